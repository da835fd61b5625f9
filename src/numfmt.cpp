#include "numfmt.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace numfmt {

namespace {

std::string strip(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (c != '_')
            out += c;
    return out;
}

bool is_digit_of(char c, int base)
{
    if (base == 16)
        return isxdigit(static_cast<unsigned char>(c));
    return c >= '0' && c < '0' + base;
}

bool valid_digits(const std::string& digits, int base)
{
    if (digits.empty())
        return false;
    for (char c : digits)
        if (!is_digit_of(c, base))
            return false;
    return true;
}

int width_for_hex_digits(size_t n) { return n <= 2 ? 1 : n <= 4 ? 2 : n <= 8 ? 4 : 8; }
int width_for_bin_digits(size_t n) { return n <= 8 ? 1 : n <= 16 ? 2 : n <= 32 ? 4 : 8; }

enum class Outcome { NoMatch, Match, TooMany };

// Tries one notation: `raw` are the digits with their underscores, `most`
// the largest digit count (0 for no limit).
Outcome try_form(const std::string& raw, int base, size_t most, uint64_t* value, size_t* count)
{
    std::string digits = strip(raw);
    if (!valid_digits(digits, base))
        return Outcome::NoMatch;
    if (most && digits.size() > most)
        return Outcome::TooMany;
    *value = strtoull(digits.c_str(), nullptr, base); // saturates at all ones
    *count = digits.size();
    return Outcome::Match;
}

bool starts(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Parses an unsigned number in one of NASM's notations; sets the width
// the notation implies.
bool parse_unsigned(const std::string& s, uint64_t* value, int* bytes)
{
    struct Form {
        enum { Prefix, Suffix } where;
        const char* marks[3];
        int base;
        size_t most;
        int (*width)(size_t);
        size_t min_len;
    };
    static const Form forms[] = {
        { Form::Prefix, { "0x", "0h", "$" }, 16, 16, width_for_hex_digits, 0 },
        { Form::Suffix, { "h" }, 16, 17, nullptr, 2 },
        { Form::Prefix, { "0b" }, 2, 64, width_for_bin_digits, 0 },
        { Form::Suffix, { "b", "y" }, 2, 0, nullptr, 2 },
        { Form::Prefix, { "0o", "0q" }, 8, 0, nullptr, 0 },
        { Form::Suffix, { "o", "q" }, 8, 0, nullptr, 2 },
        { Form::Prefix, { "0d", "0t" }, 10, 20, nullptr, 3 },
        { Form::Suffix, { "d", "t" }, 10, 20, nullptr, 2 },
    };
    for (size_t i = 0; i < std::size(forms); ++i) {
        const Form& f = forms[i];
        if (s.size() < f.min_len)
            continue;
        std::string raw;
        bool matched = false;
        for (const char* mark : f.marks) {
            if (!mark)
                break;
            size_t n = strlen(mark);
            if (f.where == Form::Prefix && starts(s, mark)) {
                raw = s.substr(n);
                matched = true;
                break;
            }
            if (f.where == Form::Suffix && s.size() >= n && s.compare(s.size() - n, n, mark) == 0) {
                raw = s.substr(0, s.size() - n);
                matched = true;
                break;
            }
        }
        // A hexadecimal suffix needs a leading decimal digit, or "ah" would be a number.
        if (matched && i == 1 && !isdigit(static_cast<unsigned char>(s[0])))
            matched = false;
        if (!matched)
            continue;
        size_t count = 0;
        switch (try_form(raw, f.base, f.most, value, &count)) {
        case Outcome::NoMatch:
            continue;
        case Outcome::TooMany:
            return false;
        case Outcome::Match:
            *bytes = f.width ? f.width(count) : 0;
            return true;
        }
    }
    size_t count = 0;
    if (try_form(s, 10, 20, value, &count) == Outcome::Match) {
        *bytes = 0;
        return true;
    }
    return false;
}

} // namespace

bool parse(const std::string& text, uint64_t* value, int* bytes)
{
    size_t end = text.size();
    while (end > 0 && is_space(text[end - 1]))
        --end;
    size_t begin = 0;
    while (begin < end && is_space(text[begin]))
        ++begin;
    std::string s = text.substr(begin, end - begin);
    if (s.empty())
        return false;
    *bytes = 0;

    // memchr, not strchr: a NUL byte must not count as a quote.
    if (s.size() > 2 && memchr("\"'`", s.front(), 3) && s.back() == s.front()) {
        std::string inner = s.substr(1, s.size() - 2);
        if (inner.size() > 8)
            return false;
        uint64_t v = 0;
        for (size_t i = 0; i < inner.size(); ++i)
            v |= uint64_t(static_cast<unsigned char>(inner[i])) << (8 * i);
        size_t n = inner.size();
        *value = v;
        *bytes = n == 1 ? 1 : n == 2 ? 2 : n <= 4 ? 4 : 8;
        return true;
    }

    bool negative = false;
    if (s[0] == '-' || s[0] == '+') {
        negative = s[0] == '-';
        s.erase(0, 1);
    }
    if (s.empty())
        return false;
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));

    uint64_t v = 0;
    int width = 0;
    if (!parse_unsigned(s, &v, &width))
        return false;
    if (negative) {
        v = 0 - v;
        if (width == 0)
            width = 8;
    }
    *value = v;
    *bytes = width;
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string hex(uint64_t v, int bytes)
{
    char buf[24];
    snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    std::string digits = buf;
    // Padded here rather than by printf, so any width fits.
    size_t width = bytes > 0 ? size_t(bytes) * 2 : 1;
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return "0x" + digits;
}

std::string bin(uint64_t v, int bits)
{
    std::string out;
    for (int i = bits - 1; i >= 0; --i) {
        // Positions above the value's 64 bits are zeros.
        out += (i < 64 && ((v >> i) & 1)) ? '1' : '0';
        if (i != 0 && i % 4 == 0)
            out += ' ';
    }
    return out;
}

std::string chars(uint64_t v, int bytes)
{
    std::string out;
    int n = bytes > 8 ? 8 : bytes;
    for (int i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(v >> (8 * i));
        bool printable = c >= 0x20 && c <= 0x7E;
        if (i == 0 && !printable)
            return {};
        if (c == 0)
            break;
        if (!printable)
            return {};
        out += char(c);
    }
    return out;
}

int64_t sign(uint64_t v, int bytes)
{
    switch (bytes) {
    case 1: return int8_t(uint8_t(v));
    case 2: return int16_t(uint16_t(v));
    case 4: return int32_t(uint32_t(v));
    default: return int64_t(v);
    }
}

std::string tip(uint64_t v, int bytes)
{
    if (bytes <= 0)
        bytes = v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x100000000ull ? 4 : 8;
    char buf[96];
    snprintf(buf, sizeof buf, "0x%llX = %llu", static_cast<unsigned long long>(v), static_cast<unsigned long long>(v));
    std::string out = buf;
    int64_t s = sign(v, bytes);
    if (s < 0) {
        snprintf(buf, sizeof buf, " (-%llu)", static_cast<unsigned long long>(0 - uint64_t(s)));
        out += buf;
    }
    std::string text = chars(v, bytes);
    if (!text.empty())
        out += "  \xC2\xB7  '" + text + "'";
    if (bytes == 1 || bytes == 2)
        out += "  \xC2\xB7  " + bin(v, bytes * 8);
    return out;
}

} // namespace numfmt
