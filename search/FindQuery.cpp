#include "search/FindQuery.h"

#include "collection/NameOrder.h"
#include "platform/AnsiText.h"
#include "search/NameFolding.h"
#include "search/RegexMatcher.h"

#include <array>
#include <chrono>
#include <stdexcept>

struct TFindQuery::TRegex {
    TRegexMatcher Matcher;
    std::u16string Text; // the name being tested
};

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000; // a FILETIME counts 100 ns
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86'400;
constexpr int64_t kDaysFrom1601To1970 = 134'774;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The text without the blank and control bytes (0x20 and below) at its ends, as the filter cuts
// its search string.
std::string_view TrimControlBytes(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The multiplier of a unit as written after a size, or 0 when the text is no unit.
uint64_t UnitOf(std::string_view unit)
{
    // A trailing "b" (bytes) is allowed after a unit: 700M, 700MB, 700 Мб.
    for (const std::string_view bytes : {"b", "B", "б", "Б"}) {
        if (unit.size() > bytes.size() && unit.ends_with(bytes)) {
            unit.remove_suffix(bytes.size());
            break;
        }
    }
    struct TUnit {
        std::string_view Letter;
        uint64_t Factor;
    };
    static constexpr std::array<TUnit, 12> units = {{
        {"k", 1ULL << 10},
        {"K", 1ULL << 10},
        {"к", 1ULL << 10},
        {"К", 1ULL << 10},
        {"m", 1ULL << 20},
        {"M", 1ULL << 20},
        {"м", 1ULL << 20},
        {"М", 1ULL << 20},
        {"g", 1ULL << 30},
        {"G", 1ULL << 30},
        {"г", 1ULL << 30},
        {"Г", 1ULL << 30},
    }};
    for (const TUnit& candidate : units)
        if (unit == candidate.Letter)
            return candidate.Factor;
    return 0;
}

} // namespace

std::optional<TFindQuery> TFindQuery::Make(const TFindConditions& conditions, std::string& error)
{
    if (!IsValidUtf8(conditions.Pattern)) {
        error = Ansi("Образец имени не является текстом в кодировке UTF-8");
        return std::nullopt;
    }
    if (conditions.SizeMin && conditions.SizeMax && *conditions.SizeMin > *conditions.SizeMax) {
        error = Ansi("Наименьший размер больше наибольшего");
        return std::nullopt;
    }
    if (conditions.TimeMin && conditions.TimeMax && *conditions.TimeMin > *conditions.TimeMax) {
        error = Ansi("Начальная дата позже конечной");
        return std::nullopt;
    }

    TFindQuery query(conditions);
    if (conditions.Match == TFindMatch::RegularExpression) {
        TRegexMatcher::TError fault;
        std::optional<TRegexMatcher> matcher = TRegexMatcher::Make(conditions.Pattern, fault);
        if (!matcher) {
            error = Utf8ToAnsi("Ошибка в регулярном выражении (позиция " +
                               std::to_string(fault.Offset + 1) + "): " + fault.Text);
            return std::nullopt;
        }
        query.Regex_ = std::make_unique<TRegex>(TRegex{std::move(*matcher), {}});
        return query;
    }

    const std::string_view pattern = conditions.Match == TFindMatch::Substring
                                         ? TrimControlBytes(conditions.Pattern)
                                         : std::string_view(conditions.Pattern);
    query.FoldedPattern_ = FoldPattern(pattern);
    if (conditions.Match == TFindMatch::Wildcard)
        query.Wildcard_ = TWildcardPattern(query.FoldedPattern_);
    return query;
}

TFindQuery::TFindQuery(TFindConditions conditions)
    : Conditions_(std::move(conditions))
{
}

TFindQuery TFindQuery::Twin() const
{
    std::string error;
    std::optional<TFindQuery> twin = Make(Conditions_, error);
    // The same conditions made this query: only running out of memory could fail here.
    if (!twin)
        throw std::runtime_error(error);
    twin->SetTimeLimit(TimeLimit_);
    return std::move(*twin);
}

void TFindQuery::TakeTrouble(const TFindQuery& twin)
{
    if (Trouble_.empty())
        Trouble_ = twin.Trouble_;
}

TFindQuery::TFindQuery(TFindQuery&&) noexcept = default;
TFindQuery& TFindQuery::operator=(TFindQuery&&) noexcept = default;
TFindQuery::~TFindQuery() = default;

bool TFindQuery::Matches(const TFindCandidate& candidate)
{
    if (!Trouble_.empty())
        return false;
    const TFindConditions& c = Conditions_;
    if ((c.Kinds == TFindKinds::FilesOnly && candidate.Folder) ||
        (c.Kinds == TFindKinds::FoldersOnly && !candidate.Folder))
        return false;
    if ((c.SizeMin && candidate.Size < *c.SizeMin) || (c.SizeMax && candidate.Size > *c.SizeMax))
        return false;
    if ((c.TimeMin && candidate.Time < *c.TimeMin) || (c.TimeMax && candidate.Time > *c.TimeMax))
        return false;
    return NameMatches(candidate.Name);
}

bool TFindQuery::NameMatches(std::string_view name)
{
    switch (Conditions_.Match) {
    case TFindMatch::Substring:
        return FoldedNameContains(name, FoldedPattern_);
    case TFindMatch::Wildcard:
        if (FoldedPattern_.empty())
            return true;
        FoldName(name, Folded_);
        return Wildcard_.Matches(Folded_);
    case TFindMatch::RegularExpression: {
        NameToUtf16(name, Regex_->Text);
        // The clock is read once every few names: reading it costs about as much as a match.
        if (Matched_++ % kNamesPerClockReading == 0) {
            const auto now = std::chrono::steady_clock::now();
            if (Matched_ > 1)
                Spent_ += now - LastReading_;
            LastReading_ = now;
        }
        const TRegexMatcher::TResult result = Regex_->Matcher.Search(Regex_->Text);
        // A name the matcher gave up on (its limit of steps or of memory) may or may not match:
        // the search cannot go on as if it did not.
        if (result == TRegexMatcher::TResult::GaveUp) {
            Trouble_ = Utf8ToAnsi("Регулярное выражение «" + Conditions_.Pattern +
                                  "» слишком сложно: на имени «" + AnsiToUtf8(name) +
                                  "» поиск превысил предел сопоставления и прерван");
            return false;
        }
        if (Spent_ > TimeLimit_) {
            Trouble_ = Utf8ToAnsi(
                "Регулярное выражение «" + Conditions_.Pattern +
                "» слишком сложно: поиск длился дольше " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::seconds>(TimeLimit_).count()) +
                " с и прерван");
            return false;
        }
        return result == TRegexMatcher::TResult::Match;
    }
    }
    return false;
}

namespace {

// Text as a run of characters: a byte stands for itself, an escape for 0x100 plus its code
// point, so that no escaped character is taken for a byte ('?' among them).
std::u32string Characters(std::string_view text)
{
    std::u32string characters;
    characters.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (const std::optional<char32_t> escaped = EscapeAt(text.substr(at))) {
            characters.push_back(0x100 + *escaped);
            at += kEscapeLength;
        } else {
            characters.push_back(static_cast<unsigned char>(text[at++]));
        }
    }
    return characters;
}

template <typename TChar>
bool PieceAt(std::basic_string_view<TChar> name, size_t at, std::basic_string_view<TChar> piece,
             bool joker)
{
    if (!joker)
        return name.compare(at, piece.size(), piece) == 0;
    for (size_t i = 0; i < piece.size(); ++i)
        if (piece[i] != TChar('?') && piece[i] != name[at + i])
            return false;
    return true;
}

template <typename TChar>
size_t FindPiece(std::basic_string_view<TChar> name, size_t from, size_t to,
                 std::basic_string_view<TChar> piece, bool joker)
{
    if (to < from || to - from < piece.size())
        return std::basic_string_view<TChar>::npos;
    const std::basic_string_view<TChar> room = name.substr(0, to);
    if (!joker)
        return room.find(piece, from);
    for (size_t at = from; at + piece.size() <= to; ++at)
        if (PieceAt(room, at, piece, true))
            return at;
    return std::basic_string_view<TChar>::npos;
}

} // namespace

TWildcardPattern::TWildcardPattern(std::string_view pattern)
    : Bytes_(Split(pattern))
{
    const std::u32string characters = Characters(pattern);
    Characters_ = Split(std::u32string_view(characters));
}

template <typename TChar>
TWildcardPattern::TPieces<TChar> TWildcardPattern::Split(std::basic_string_view<TChar> pattern)
{
    TPieces<TChar> pieces;
    for (;;) {
        const size_t star = pattern.find(TChar('*'));
        std::basic_string<TChar>& text = pieces.Texts.emplace_back(pattern.substr(0, star));
        pieces.Jokers.push_back(text.find(TChar('?')) != std::basic_string<TChar>::npos);
        pieces.MinLength += text.size();
        if (star == std::basic_string_view<TChar>::npos)
            break;
        pattern.remove_prefix(star + 1);
    }
    return pieces;
}

bool TWildcardPattern::Matches(std::string_view name) const
{
    if (!MayHoldEscapes(name))
        return Fits(name, Bytes_);
    const std::u32string characters = Characters(name);
    return Fits(std::u32string_view(characters), Characters_);
}

template <typename TChar>
bool TWildcardPattern::Fits(std::basic_string_view<TChar> name, const TPieces<TChar>& pieces)
{
    using TView = std::basic_string_view<TChar>;
    if (name.size() < pieces.MinLength)
        return false;
    const TView first = pieces.Texts.front();
    if (pieces.Texts.size() == 1)
        return name.size() == first.size() && PieceAt(name, 0, first, pieces.Jokers.front());
    // The first piece is held at the start and the last at the end; those between go each to
    // its leftmost place after the one before, which leaves the most room for the rest.
    const TView last = pieces.Texts.back();
    const size_t end = name.size() - last.size();
    if (!PieceAt(name, 0, first, pieces.Jokers.front()) ||
        !PieceAt(name, end, last, pieces.Jokers.back()))
        return false;
    size_t at = first.size();
    for (size_t i = 1; i + 1 < pieces.Texts.size(); ++i) {
        const TView piece = pieces.Texts[i];
        const size_t found = FindPiece(name, at, end, piece, pieces.Jokers[i]);
        if (found == TView::npos)
            return false;
        at = found + piece.size();
    }
    return true;
}

bool WildcardMatch(std::string_view name, std::string_view pattern)
{
    return TWildcardPattern(pattern).Matches(name);
}

std::optional<uint64_t> ParseSize(std::string_view utf8)
{
    std::string_view text = TrimBlanks(utf8);
    uint64_t whole = 0;
    size_t at = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (__builtin_mul_overflow(whole, 10, &whole) ||
            __builtin_add_overflow(whole, static_cast<uint64_t>(text[at] - '0'), &whole))
            return std::nullopt;
    }
    const size_t wholeDigits = at;
    uint64_t fraction = 0;
    uint64_t scale = 1;
    size_t fractionDigits = 0;
    if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++fractionDigits) {
            if (fractionDigits < 18) { // finer than a byte of a gigabyte is noise
                fraction = fraction * 10 + static_cast<uint64_t>(text[at] - '0');
                scale *= 10;
            }
        }
    }
    if (wholeDigits + fractionDigits == 0)
        return std::nullopt;
    const std::string_view unit = TrimBlanks(text.substr(at));
    uint64_t factor = 1;
    if (!unit.empty()) {
        factor = UnitOf(unit);
        if (factor == 0)
            return std::nullopt;
    } else if (fractionDigits > 0) {
        return std::nullopt; // a byte count is whole
    }
    unsigned __int128 bytes = static_cast<unsigned __int128>(whole) * factor;
    bytes += (static_cast<unsigned __int128>(fraction) * factor + scale / 2) / scale;
    if (bytes > UINT64_MAX)
        return std::nullopt;
    return static_cast<uint64_t>(bytes);
}

std::optional<uint64_t> LocalDayStart(int year, int month, int day, int64_t offsetSeconds)
{
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                              std::chrono::day{unsigned(day)}};
    if (year < 1601 || year > 30000 || !date.ok())
        return std::nullopt;
    const int64_t days = sys_days{date}.time_since_epoch().count() + kDaysFrom1601To1970;
    const int64_t ticks = days * kTicksPerDay - offsetSeconds * kTicksPerSecond;
    return static_cast<uint64_t>(ticks < 0 ? 0 : ticks);
}

std::optional<uint64_t> LocalDayEnd(int year, int month, int day, int64_t offsetSeconds)
{
    const std::optional<uint64_t> start = LocalDayStart(year, month, day, offsetSeconds);
    if (!start)
        return std::nullopt;
    using namespace std::chrono;
    const sys_days next = sys_days{std::chrono::year{year} / std::chrono::month{unsigned(month)} /
                                   std::chrono::day{unsigned(day)}} +
                          days{1};
    const int64_t ticks = (next.time_since_epoch().count() + kDaysFrom1601To1970) * kTicksPerDay -
                          offsetSeconds * kTicksPerSecond - 1;
    return static_cast<uint64_t>(ticks < 0 ? 0 : ticks);
}
