#include "con_buffer.h"

#include "con.h"

#include <algorithm>

namespace con {

Buffer::Buffer()
{
    m_s.reserve(kSpillAt + 4096);
}

void Buffer::pad(std::string_view s, size_t width)
{
    m_s.append(s.data(), s.size());
    if (s.size() < width)
        m_s.append(width - s.size(), ' ');
    spill();
}

void Buffer::hex(uint64_t v, int digits)
{
    const int needed = v ? (67 - __builtin_clzll(v)) / 4 : 1;
    const int n = std::clamp(digits, needed, 16);
    const size_t at = m_s.size();
    m_s.resize(at + size_t(n));
    char* p = m_s.data() + at;
    for (int k = n - 1; k >= 0; --k, v >>= 4)
        p[k] = "0123456789abcdef"[v & 15];
}

void Buffer::hex_pad(uint64_t v, size_t width)
{
    const size_t start = m_s.size();
    hex(v);
    const size_t written = m_s.size() - start;
    if (written < width)
        m_s.append(width - written, ' ');
}

void Buffer::dec(uint64_t v)
{
    char buf[20];
    int n = 0;
    do {
        buf[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0)
        m_s.push_back(buf[--n]);
}

void Buffer::flush()
{
    if (m_s.empty())
        return;
    print(m_s);
    m_s.clear();
}

} // namespace con
