#pragma once
// Buffered console output for the listing modes: the same bytes as con::print
// would write call by call, in a few large writes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace con {

class Buffer {
public:
    Buffer();
    ~Buffer() { flush(); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    void add(std::string_view s)
    {
        m_s.append(s.data(), s.size());
        spill();
    }
    void add(char c) { m_s.push_back(c); }
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
    void spill()
    {
        if (m_s.size() >= kSpillAt)
            flush();
    }

    static constexpr size_t kSpillAt = 1 << 16;
    std::string m_s;
};

} // namespace con
