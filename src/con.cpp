#include "con.h"

#include "l10n.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace con {

namespace {

// Length of the UTF-8 sequence at s[i] when it is valid and is no C1
// control character, else 0.
size_t utf8_printable(std::string_view s, size_t i)
{
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
    if ((c == 0xC2 && c1 < 0xA0) || (c == 0xE0 && c1 < 0xA0) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90)
        || (c == 0xED && c1 >= 0xA0))
        return 0;
    return n;
}

} // namespace

std::string printable(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c >= 0x80 ? utf8_printable(s, i) : (c >= 0x20 && c < 0x7F && c != '\\') ? 1 : 0;
        if (n) {
            out.append(s, i, n);
            i += n;
            continue;
        }
        out += "\\x";
        out += "0123456789ABCDEF"[c >> 4];
        out += "0123456789ABCDEF"[c & 15];
        ++i;
    }
    return out;
}

void print_lines(std::string_view text)
{
    while (!text.empty()) {
        size_t nl = text.find('\n');
        std::string line = printable(text.substr(0, nl));
        if (nl != std::string_view::npos) {
            line += '\n';
            text.remove_prefix(nl + 1);
        } else {
            text = {};
        }
        print(line);
    }
}

void print(std::string_view whole)
{
    // Isolate and direction marks in translated texts are for the window,
    // not a terminal.
    std::string plain;
    if (whole.find("\xE2\x81") != std::string_view::npos || whole.find("\xE2\x80\x8F") != std::string_view::npos) {
        plain = L10n::plain(std::string(whole));
        whole = plain;
    }
    std::string_view text = whole;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(1, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= size_t(n);
    }
}

void printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int len = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (len <= 0) {
        va_end(args);
        return;
    }
    std::string text(size_t(len) + 1, '\0');
    vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(size_t(len));
    print(text);
}

} // namespace con
