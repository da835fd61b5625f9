#include "con.h"

#include "l10n.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace con {

void print(std::string_view whole)
{
    // Isolate marks in translated texts are for the window, not a terminal.
    std::string plain;
    if (whole.find("\xE2\x81") != std::string_view::npos) {
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
