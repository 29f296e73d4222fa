#include "search/Wildcard.h"

#include <algorithm>

namespace tamsin {
namespace {

constexpr char kStar = '*';
constexpr char kAnyOne = '?';
constexpr int kTerminator = -1;  // what a position past the end reads as; equals no byte

// Byte k of s, or the terminator for a position at or past the end.
int byteAt(std::string_view s, std::size_t k)
{
    return k < s.size() ? static_cast<unsigned char>(s[k]) : kTerminator;
}

bool sameByte(char ch, std::string_view name, std::size_t i)
{
    return static_cast<unsigned char>(ch) == byteAt(name, i);
}

int endsWith(std::string_view name, std::string_view tail)
{
    return name.ends_with(tail) ? 1 : 0;
}

// The pattern with a run of trailing stars cut to one.
std::string_view withOneTrailingStar(std::string_view pattern)
{
    while (pattern.size() >= 2 && pattern[pattern.size() - 1] == kStar && pattern[pattern.size() - 2] == kStar)
        pattern.remove_suffix(1);
    return pattern;
}

// The step-by-step walk for patterns holding wildcards (see the header for
// its quirks). p walks the pattern, i the name; tail collects the literal
// characters met since the last star.
int walkPattern(std::string_view name, std::string_view pattern)
{
    const std::size_t n = name.size();
    const std::size_t size = pattern.size();
    std::size_t p = 0;
    std::size_t i = 0;
    bool afterStar = false;
    std::string tail;
    while (p < size) {
        const char ch = pattern[p];
        const bool last = p + 1 == size;
        if (ch == kStar) {
            tail.clear();
            afterStar = true;
            if (last)
                return 1;
            const std::size_t q = pattern.find_first_not_of("*?", p + 1);
            if (q == std::string_view::npos)
                return 1;
            const char next = pattern[q];
            if (q > p + 1) {
                // Wildcards between this star and the next literal are skipped.
                if (q + 1 == size)
                    return name.back() == next ? 1 : 0;
                p = q - 1;
            }
            ++i;
            if (i >= n && p + 1 < size)
                return p + 2 == size && pattern[p] == kStar && name.find(next, p + 1) != std::string_view::npos ? 1 : 0;
        } else if (ch == kAnyOne) {
            if (last) {
                // The name's end, its last byte standing for the "?", must equal tail.
                tail += kAnyOne;
                std::string end(name.substr(n - std::min(n, tail.size())));
                end.back() = kAnyOne;
                return end == tail ? 1 : 0;
            }
            if (i + 1 > size)
                return 0;
            if (p + 2 < size && i + 1 >= n)
                return 0;
            ++i;
        } else if (!afterStar) {
            if (p >= n || !sameByte(ch, name, i))
                return 0;
            ++i;
        } else if (sameByte(ch, name, i)) {
            if (p + 2 < size && i + 1 >= n)
                return 0;
            tail += ch;
            if (last)
                return endsWith(name, tail);
            ++i;
        } else {
            // Resynchronise: look for the literals since the star further on.
            tail += ch;
            if (last)
                return endsWith(name, tail);
            const std::size_t found = name.find(tail, i == 0 ? 0 : i - 1);
            if (found == std::string_view::npos)
                return 0;
            i = found + tail.size() - 1;
            if (i + 1 >= n)
                return 0;
            ++i;
        }
        ++p;
    }
    return 1;
}

} // namespace

int matchWildcard(std::string_view name, std::string_view pattern)
{
    if (name.empty() || pattern.empty())
        return 0;
    const bool hasStar = pattern.find(kStar) != std::string_view::npos;
    if (!hasStar && pattern.size() > name.size())
        return 0;
    if (pattern == "*")
        return 1;
    if (pattern == "*.*")
        return name.find('.') != std::string_view::npos ? 1 : 0;
    if (!hasStar && pattern.find(kAnyOne) == std::string_view::npos)
        return name.find(pattern) != std::string_view::npos ? 1 : 0;
    return walkPattern(name, withOneTrailingStar(pattern));
}

std::string upperCased(std::string_view name)
{
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

} // namespace tamsin
