#pragma once
// Buffered console output for the listing modes: the same bytes as con::print
// would write call by call, in a few large writes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace con {

class Buffer {
public:
    Buffer() = default;
    ~Buffer() { flush(); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    void add(std::string_view s)
    {
        if (s.empty()) // an empty view may have no data pointer at all
            return;
        if (s.size() > kRoom - m_n) {
            flush();
            if (s.size() > kRoom) {
                write_through(s);
                return;
            }
        }
        memcpy(m_s + m_n, s.data(), s.size());
        m_n += s.size();
    }
    void add(char c)
    {
        if (m_n == kRoom)
            flush();
        m_s[m_n++] = c;
    }
    // The text followed by blanks up to `width` bytes, as "%-*s" prints it.
    void pad(std::string_view s, size_t width);
    // Lower-case hexadecimal with at least `digits` digits, zero-filled ("%0*llx").
    void hex(uint64_t v, int digits = 1);
    // The same, then blanks up to `width` bytes ("%-*llx").
    void hex_pad(uint64_t v, size_t width);
    void dec(uint64_t v);
    // Writes everything collected to standard output.
    void flush();

private:
    void write_through(std::string_view s);

    static constexpr size_t kRoom = 1 << 16;
    char m_s[kRoom];
    size_t m_n = 0;
};

} // namespace con
