// The reading of a regular expression into the literal runs that every match holds. It reads only
// as much of the syntax as it needs to skip what may be missing (classes, groups, repetitions); an
// expression it cannot be sure of requires nothing, which costs the search its narrowing only.

#include "search/PatternRuns.h"

namespace name_index_detail {

namespace {

// ASCII characters that match, letter case ignored, only themselves and their other case. 'i',
// 'k' and 's' are left out: Unicode gives them more twins than the code page knows.
bool IsPlainLiteral(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return std::string_view("iIkKsS").find(c) == std::string_view::npos;
    return (c >= '0' && c <= '9') ||
           std::string_view("-_ ,=!@%&~:;\"'<>`/").find(c) != std::string_view::npos;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The end of the bracket expression that starts at open, or npos.
size_t ClassEnd(std::string_view p, size_t open)
{
    size_t at = open + 1;
    if (at < p.size() && p[at] == '^')
        ++at;
    if (at < p.size() && p[at] == ']')
        ++at;
    while (at < p.size()) {
        if (p[at] == '\\') {
            at += 2;
        } else if (p.substr(at, 2) == "[:") {
            const size_t close = p.find(":]", at + 2);
            if (close == std::string_view::npos)
                return std::string_view::npos;
            at = close + 2;
        } else if (p[at] == ']') {
            return at;
        } else {
            ++at;
        }
    }
    return std::string_view::npos;
}

// The end of the group that starts at open, or npos.
size_t GroupEnd(std::string_view p, size_t open)
{
    int depth = 0;
    for (size_t at = open; at < p.size();) {
        switch (p[at]) {
        case '\\':
            if (p.substr(at, 2) == "\\Q") {
                const size_t quoteEnd = p.find("\\E", at + 2);
                if (quoteEnd == std::string_view::npos)
                    return std::string_view::npos;
                at = quoteEnd + 2;
            } else {
                at += 2;
            }
            continue;
        case '[':
            at = ClassEnd(p, at);
            if (at == std::string_view::npos)
                return at;
            break;
        case '(':
            ++depth;
            break;
        case ')':
            if (--depth == 0)
                return at;
            break;
        default:
            break;
        }
        ++at;
    }
    return std::string_view::npos;
}

// Whether the text from at is a counted repetition ("{2}", "{2,}", "{2,5}", "{,5}"); its end.
size_t RepetitionEnd(std::string_view p, size_t at)
{
    const size_t close = p.find('}', at);
    if (close == std::string_view::npos)
        return std::string_view::npos;
    const std::string_view inside = p.substr(at + 1, close - at - 1);
    const size_t comma = inside.find(',');
    if (inside.empty() || inside.find_first_not_of("0123456789,") != std::string_view::npos ||
        (comma != std::string_view::npos && inside.find(',', comma + 1) != std::string_view::npos))
        return std::string_view::npos;
    return close;
}

} // namespace

bool RequiredRuns(std::string_view p, std::vector<std::string>& runs)
{
    std::string run;
    const auto flush = [&] {
        if (run.size() >= 3)
            runs.push_back(run);
        run.clear();
    };
    for (size_t at = 0; at < p.size();) {
        // cppcheck-suppress containerOutOfBounds
        const char c = p[at];
        switch (c) {
        case '\\': {
            if (at + 1 >= p.size())
                return false;
            const char next = p[at + 1];
            if ((next >= '0' && next <= '9') || (next >= 'a' && next <= 'z') ||
                (next >= 'A' && next <= 'Z')) {
                if (std::string_view("bBdDwWsShHvV").find(next) == std::string_view::npos)
                    return false; // a reference, a code, a property, a quotation...
                flush();
            } else if (static_cast<unsigned char>(next) < 0x80 && IsPlainLiteral(next)) {
                run += next;
            } else if (next == '.' || next == '(' || next == ')' || next == '[' || next == ']' ||
                       next == '{' || next == '}' || next == '*' || next == '+' || next == '?' ||
                       next == '|' || next == '^' || next == '$' || next == '\\' || next == '#') {
                run += next; // an escaped sign stands for itself, and has no other case
            } else {
                flush();
            }
            at += 2;
            continue;
        }
        case '[': {
            flush();
            const size_t end = ClassEnd(p, at);
            if (end == std::string_view::npos)
                return false;
            at = end + 1;
            continue;
        }
        case '(': {
            flush();
            if (at + 1 < p.size() && p[at + 1] == '*')
                return false;
            if (at + 1 < p.size() && p[at + 1] == '?') {
                const char kind = at + 2 < p.size() ? p[at + 2] : '\0';
                const bool plain = std::string_view(":=!|>'P").find(kind) != std::string_view::npos;
                const bool before = kind == '<';
                if (!(plain || before) || kind == '\0')
                    return false; // option settings, comments, recursion
            }
            const size_t end = GroupEnd(p, at);
            if (end == std::string_view::npos)
                return false;
            at = end + 1;
            continue;
        }
        case ')':
        case '|':
            return false;
        case '*':
        case '?':
            if (!run.empty())
                run.pop_back(); // the character before may be missing
            flush();
            ++at;
            continue;
        case '{': {
            if (!run.empty())
                run.pop_back();
            flush();
            const size_t end = RepetitionEnd(p, at);
            at = end == std::string_view::npos ? at + 1 : end + 1;
            continue;
        }
        case '+':
        case '.':
        case '^':
        case '$':
            flush();
            ++at;
            continue;
        default:
            if (static_cast<unsigned char>(c) < 0x80 && IsPlainLiteral(c))
                run += AsciiLower(c);
            else
                flush();
            ++at;
            continue;
        }
    }
    flush();
    return true;
}

} // namespace name_index_detail
