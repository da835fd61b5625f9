#include "con_buffer.h"

#include "con.h"

#include <algorithm>

namespace con {

void Buffer::pad(std::string_view s, size_t width)
{
    add(s);
    if (s.size() >= width)
        return;
    size_t blanks = width - s.size();
    if (blanks > kRoom - m_n)
        flush();
    blanks = std::min(blanks, kRoom - m_n);
    memset(m_s + m_n, ' ', blanks);
    m_n += blanks;
}

void Buffer::hex(uint64_t v, int digits)
{
    const int needed = v ? (67 - __builtin_clzll(v)) / 4 : 1;
    const int n = std::clamp(digits, needed, 16);
    char text[16];
    for (int k = n - 1; k >= 0; --k, v >>= 4)
        text[k] = "0123456789abcdef"[v & 15];
    add({ text, size_t(n) });
}

void Buffer::hex_pad(uint64_t v, size_t width)
{
    const size_t start = m_n;
    hex(v);
    // A flush inside hex leaves fewer bytes here than were written; the
    // padding then counts from the buffer's start, which holds the number.
    const size_t written = m_n >= start ? m_n - start : m_n;
    if (written < width)
        pad({}, width - written);
}

void Buffer::dec(uint64_t v)
{
    char text[20];
    int n = 20;
    do {
        text[--n] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    add({ text + n, size_t(20 - n) });
}

void Buffer::flush()
{
    if (m_n == 0)
        return;
    print({ m_s, m_n });
    m_n = 0;
}

void Buffer::write_through(std::string_view s)
{
    print(s);
}

} // namespace con
