#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How the name pattern is read.
enum class TFindMatch {
    Substring, // the name holds the pattern, letter case ignored (as the filter matches)
    Wildcard,  // the whole name fits the pattern: '*' any run of characters, '?' one character
    RegularExpression, // the pattern occurs in the name, letter case ignored
};

enum class TFindKinds { FilesAndFolders, FilesOnly, FoldersOnly };

// What the user asks for. Every bound is inclusive; a missing bound does not limit.
struct TFindConditions {
    std::string Pattern; // UTF-8; an empty pattern (after trimming, for a substring) takes any name
    TFindMatch Match = TFindMatch::Substring;
    std::optional<uint64_t> SizeMin, SizeMax; // bytes; a folder's size is that of its files
    std::optional<uint64_t> TimeMin, TimeMax; // last-write time as a FILETIME (100 ns since 1601)
    TFindKinds Kinds = TFindKinds::FilesAndFolders;
};

// A wildcard pattern ('*' any run of characters, '?' one character) split at its stars, ready to
// test many names. Characters are compared as they are: fold both sides for a case-blind match.
// An escaped character (see platform/AnsiText.h) counts as one character.
class TWildcardPattern {
public:
    explicit TWildcardPattern(std::string_view pattern = {});
    // Whether the whole of name fits the pattern.
    [[nodiscard]] bool Matches(std::string_view name) const;

private:
    template <typename TChar> struct TPieces {
        std::vector<std::basic_string<TChar>> Texts; // the runs around the stars, empty ones too
        std::vector<bool> Jokers;                    // whether each holds a '?'
        size_t MinLength = 0;                        // of a name that can fit
    };
    template <typename TChar>
    [[nodiscard]] static TPieces<TChar> Split(std::basic_string_view<TChar> pattern);
    template <typename TChar>
    [[nodiscard]] static bool Fits(std::basic_string_view<TChar> name,
                                   const TPieces<TChar>& pieces);

    TPieces<char> Bytes_;          // for names without escapes: one byte is one character
    TPieces<char32_t> Characters_; // for names with escapes
};

// Whether the whole of name fits pattern, as TWildcardPattern tests it.
[[nodiscard]] bool WildcardMatch(std::string_view name, std::string_view pattern);

// One file or folder as the query tests it.
struct TFindCandidate {
    std::string_view Name; // 8-bit, as stored in the collection
    bool Folder = false;
    uint64_t Size = 0;
    uint64_t Time = 0;
};

// How long the regular expression of one query may spend matching names, over all the names it
// tests: a pattern that backtracks without end on many names is stopped instead of running on.
inline constexpr std::chrono::seconds kRegexTimeLimit{60};

// The conditions made ready for matching. A query keeps buffers between calls: use one query
// from one thread at a time.
class TFindQuery {
public:
    // The query, or nothing with a message (8-bit, Russian) in error: an invalid regular
    // expression, a pattern that is not UTF-8, or a lower bound above its upper bound.
    [[nodiscard]] static std::optional<TFindQuery> Make(const TFindConditions& conditions,
                                                        std::string& error);
    TFindQuery(TFindQuery&&) noexcept;
    TFindQuery& operator=(TFindQuery&&) noexcept;
    ~TFindQuery();

    // Whether the candidate meets the conditions. Once the query has given up (see Trouble), no
    // candidate does.
    [[nodiscard]] bool Matches(const TFindCandidate& candidate);
    [[nodiscard]] const TFindConditions& Conditions() const { return Conditions_; }
    // The name pattern as a substring or wildcard query compares it: folded, in the names' code
    // page. Empty for a regular expression.
    [[nodiscard]] std::string_view FoldedPattern() const { return FoldedPattern_; }

    // Why the query gave up, as a message (8-bit, Russian) naming the pattern; empty while it has
    // not. A regular expression gives up on a name for which the matcher hit its own limit of
    // steps (it cannot tell whether the name matches), and when its matching has taken longer
    // than its time limit. A search that has met trouble must say so: its hits are incomplete.
    [[nodiscard]] const std::string& Trouble() const { return Trouble_; }
    void SetTimeLimit(std::chrono::steady_clock::duration limit) { TimeLimit_ = limit; }
    // A query of the same conditions and time limit, for a second thread to test names with
    // (a query keeps the state of its matching and serves one thread at a time).
    [[nodiscard]] TFindQuery Twin() const;
    // Takes the trouble a twin met, unless this query has met its own.
    void TakeTrouble(const TFindQuery& twin);

private:
    struct TRegex;
    explicit TFindQuery(TFindConditions conditions);
    [[nodiscard]] bool NameMatches(std::string_view name);

    TFindConditions Conditions_;
    std::string FoldedPattern_;
    TWildcardPattern Wildcard_;
    std::string Folded_; // the name being tested, folded
    std::unique_ptr<TRegex> Regex_;
    std::string Trouble_;
    std::chrono::steady_clock::duration TimeLimit_ = kRegexTimeLimit;
    // The time the regular expression has spent matching, as the clock read every
    // kNamesPerClockReading names tells it.
    static constexpr uint64_t kNamesPerClockReading = 32;
    std::chrono::steady_clock::duration Spent_{};
    std::chrono::steady_clock::time_point LastReading_;
    uint64_t Matched_ = 0; // names tested
};

// A size as the user writes it: a number of bytes, possibly with a fraction (point or comma) and
// a unit k, M or G (1024, 1024², 1024³; the Cyrillic к, М, Г too, any letter case), with blanks
// around. Nothing when the text is none of these or the size does not fit 64 bits.
[[nodiscard]] std::optional<uint64_t> ParseSize(std::string_view utf8);

// The FILETIME of midnight that begins the local calendar day, offsetSeconds east of UTC (as the
// list shows dates). Nothing for a day outside the years 1601 to 30000.
[[nodiscard]] std::optional<uint64_t> LocalDayStart(int year, int month, int day,
                                                    int64_t offsetSeconds);
// The last FILETIME tick of that local day.
[[nodiscard]] std::optional<uint64_t> LocalDayEnd(int year, int month, int day,
                                                  int64_t offsetSeconds);
