#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// A regular expression over UTF-16 text, on PCRE2's 16-bit library: Perl's syntax, letter case
// ignored, \w, \d, \b and the POSIX classes by Unicode properties. It is set up as Qt's
// QRegularExpression sets up the same engine (the window's find has always matched this way, and
// fendrel-find links no Qt): compiled for UTF, JIT-compiled when the machine allows, matched
// without a check of the subject, and given a JIT stack of 32 to 512 KiB on a thread the first
// time the default one is too small.
class TRegexMatcher {
public:
    enum class TResult { NoMatch, Match, GaveUp };

    // The compiled pattern (UTF-8, which must be valid), or nothing with why not in error: the
    // message of the engine (English, or as SetRegexErrorTranslator translates it) and the place
    // of the fault in UTF-16 units from 0.
    struct TError {
        std::string Text; // UTF-8
        size_t Offset = 0;
    };
    [[nodiscard]] static std::optional<TRegexMatcher> Make(std::string_view utf8, TError& error);
    TRegexMatcher(TRegexMatcher&&) noexcept;
    TRegexMatcher& operator=(TRegexMatcher&&) noexcept;
    ~TRegexMatcher();

    // Whether the pattern occurs in text, which must be valid UTF-16. GaveUp when the engine hit
    // its limit of steps, of depth or of memory before it could tell.
    [[nodiscard]] TResult Search(std::u16string_view text);

private:
    struct TCompiled;
    explicit TRegexMatcher(std::unique_ptr<TCompiled> compiled);
    std::unique_ptr<TCompiled> Compiled_;
};

// Turns the engine's English message (UTF-8) into the text the user reads (UTF-8). The window
// sets one that asks Qt's catalogues, as Qt's own regular expressions did; without one the
// English text is shown.
using TRegexErrorTranslator = std::string (*)(const char* english);
void SetRegexErrorTranslator(TRegexErrorTranslator translator);
