#pragma once
// Where the instructions of a conversion start, one byte per byte of code:
// a program decodes into millions of instructions, and a tree node for each
// cost more than the source written from them.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace reasm {

// What is kept of an instruction; everything else is decoded again from the
// image when needed.
struct Code {
    uint8_t len = 0;           // 1 to 15
    bool ends = false;         // a return or an unconditional jump
    bool nop_operands = false; // "nop dword [rax], eax": NASM has no such form
};

class CodeIndex {
public:
    static constexpr uint64_t kNone = UINT64_MAX;

    // The address ranges (start, size) instructions may start in; ranges
    // that overlap or touch become one. Forgets every instruction.
    void cover(std::vector<std::pair<uint64_t, uint64_t>> ranges);
    uint64_t covered_bytes() const;

    bool covers(uint64_t addr) const;
    size_t count(uint64_t addr) const { return at(addr).len != 0; }
    Code at(uint64_t addr) const; // len 0 when no instruction starts there
    // addr must be covered and len 1 to 15.
    void add(uint64_t addr, const Code& code);
    void remove(uint64_t addr);
    void clear();
    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }

    // The first start at or after addr, kNone when there is none.
    uint64_t next(uint64_t addr) const;
    // The last start in the 15 bytes before addr (no longer instruction
    // can reach addr), kNone when there is none.
    uint64_t last_before(uint64_t addr) const;

    // Every instruction in address order, as (address, code).
    class Iterator {
    public:
        Iterator(const CodeIndex* index, uint64_t addr)
            : m_index(index)
            , m_addr(addr)
        {
        }
        std::pair<uint64_t, Code> operator*() const { return { m_addr, m_index->at(m_addr) }; }
        Iterator& operator++()
        {
            m_addr = m_index->next(m_addr + 1);
            return *this;
        }
        bool operator==(const Iterator& o) const { return m_addr == o.m_addr; }

    private:
        const CodeIndex* m_index;
        uint64_t m_addr;
    };
    Iterator begin() const { return { this, m_ranges.empty() ? kNone : next(m_ranges.front().addr) }; }
    Iterator end() const { return { this, kNone }; }

private:
    struct Range {
        uint64_t addr = 0;
        uint64_t size = 0;
        size_t first = 0; // index of its first cell
    };
    // The range holding addr, or nullptr.
    const Range* range_of(uint64_t addr) const;

    std::vector<Range> m_ranges;
    // Per covered byte: 0, or the length in the low four bits and the flags
    // above.
    std::vector<uint8_t> m_cells;
    size_t m_count = 0;
};

} // namespace reasm
