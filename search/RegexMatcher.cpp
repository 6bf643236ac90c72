#include "search/RegexMatcher.h"

#include "platform/AnsiText.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <atomic>

namespace {

std::atomic<TRegexErrorTranslator> ErrorTranslator{nullptr};

struct TJitStackFree {
    void operator()(pcre2_jit_stack_16* stack) const { pcre2_jit_stack_free_16(stack); }
};

// The JIT stack of this thread, made the first time a match finds PCRE2's default 32 KiB too
// small, and kept for the thread's later matches.
thread_local std::unique_ptr<pcre2_jit_stack_16, TJitStackFree> ThreadJitStack;

pcre2_jit_stack_16* ThreadJitStackOf(void*)
{
    return ThreadJitStack.get(); // none yet: PCRE2's default stack
}

std::string ErrorMessage(int code)
{
    std::u16string message(120, u'\0');
    int length = 0;
    while ((length = pcre2_get_error_message_16(
                code, reinterpret_cast<PCRE2_UCHAR16*>(message.data()), message.size())) < 0 &&
           length == PCRE2_ERROR_NOMEMORY)
        message.resize(message.size() * 2);
    message.resize(length < 0 ? 0 : static_cast<size_t>(length));
    std::string english;
    for (const char16_t c : message) // the engine's messages are ASCII
        AppendUtf8(english, c);
    const TRegexErrorTranslator translate = ErrorTranslator.load();
    return translate ? translate(english.c_str()) : english;
}

} // namespace

struct TRegexMatcher::TCompiled {
    pcre2_code_16* Code = nullptr;
    pcre2_match_data_16* MatchData = nullptr;
    pcre2_match_context_16* Context = nullptr;

    TCompiled() = default;
    TCompiled(const TCompiled&) = delete;
    TCompiled& operator=(const TCompiled&) = delete;
    ~TCompiled()
    {
        pcre2_match_context_free_16(Context);
        pcre2_match_data_free_16(MatchData);
        pcre2_code_free_16(Code);
    }

    [[nodiscard]] int Match(std::u16string_view text) const
    {
        return pcre2_match_16(Code, reinterpret_cast<PCRE2_SPTR16>(text.data()), text.size(), 0,
                              PCRE2_NO_UTF_CHECK, MatchData, Context);
    }
};

std::optional<TRegexMatcher> TRegexMatcher::Make(std::string_view utf8, TError& error)
{
    std::u16string pattern;
    Utf16FromUtf8(utf8, pattern);
    auto compiled = std::make_unique<TCompiled>();
    int code = 0;
    PCRE2_SIZE offset = 0;
    compiled->Code =
        pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(pattern.data()), pattern.size(),
                         PCRE2_UTF | PCRE2_CASELESS | PCRE2_UCP, &code, &offset, nullptr);
    if (!compiled->Code) {
        error = {ErrorMessage(code), static_cast<size_t>(offset)};
        return std::nullopt;
    }
    // Without JIT (a machine where it cannot run, or out of memory) the interpreter matches.
    (void)pcre2_jit_compile_16(compiled->Code, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_SOFT |
                                                   PCRE2_JIT_PARTIAL_HARD);
    compiled->MatchData = pcre2_match_data_create_from_pattern_16(compiled->Code, nullptr);
    compiled->Context = pcre2_match_context_create_16(nullptr);
    if (!compiled->MatchData || !compiled->Context)
        throw std::bad_alloc();
    pcre2_jit_stack_assign_16(compiled->Context, &ThreadJitStackOf, nullptr);
    return TRegexMatcher(std::move(compiled));
}

TRegexMatcher::TRegexMatcher(std::unique_ptr<TCompiled> compiled)
    : Compiled_(std::move(compiled))
{
}

TRegexMatcher::TRegexMatcher(TRegexMatcher&&) noexcept = default;
TRegexMatcher& TRegexMatcher::operator=(TRegexMatcher&&) noexcept = default;
TRegexMatcher::~TRegexMatcher() = default;

TRegexMatcher::TResult TRegexMatcher::Search(std::u16string_view text)
{
    int result = Compiled_->Match(text);
    if (result == PCRE2_ERROR_JIT_STACKLIMIT && !ThreadJitStack) {
        ThreadJitStack.reset(pcre2_jit_stack_create_16(32 * 1024, 512 * 1024, nullptr));
        result = Compiled_->Match(text);
    }
    if (result > 0)
        return TResult::Match;
    if (result == PCRE2_ERROR_NOMATCH)
        return TResult::NoMatch;
    return TResult::GaveUp;
}

void SetRegexErrorTranslator(TRegexErrorTranslator translator)
{
    ErrorTranslator.store(translator);
}
