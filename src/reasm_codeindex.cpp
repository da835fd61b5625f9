#include "reasm_codeindex.h"

#include <algorithm>
#include <cstring>

namespace reasm {

namespace {

constexpr uint8_t kLenMask = 0x0F;
constexpr uint8_t kEnds = 0x10;
constexpr uint8_t kNopOperands = 0x20;
constexpr uint64_t kLongestInstruction = 15;

} // namespace

void CodeIndex::cover(std::vector<std::pair<uint64_t, uint64_t>> ranges)
{
    std::sort(ranges.begin(), ranges.end());
    m_ranges.clear();
    size_t cells = 0;
    for (auto [addr, size] : ranges) {
        // The last address stays free for kNone.
        size = std::min(size, UINT64_MAX - addr);
        if (size == 0)
            continue;
        if (!m_ranges.empty()) {
            Range& last = m_ranges.back();
            if (addr <= last.addr + last.size) {
                uint64_t end = std::max(last.addr + last.size, addr + size);
                cells += end - (last.addr + last.size);
                last.size = end - last.addr;
                continue;
            }
        }
        m_ranges.push_back({ addr, size, cells });
        cells += size;
    }
    std::vector<uint8_t>(cells, 0).swap(m_cells);
    m_count = 0;
}

uint64_t CodeIndex::covered_bytes() const
{
    return m_cells.size();
}

const CodeIndex::Range* CodeIndex::range_of(uint64_t addr) const
{
    auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), addr,
                               [](uint64_t a, const Range& r) { return a < r.addr; });
    if (it == m_ranges.begin())
        return nullptr;
    --it;
    return addr - it->addr < it->size ? &*it : nullptr;
}

bool CodeIndex::covers(uint64_t addr) const
{
    return range_of(addr) != nullptr;
}

Code CodeIndex::at(uint64_t addr) const
{
    const Range* r = range_of(addr);
    if (!r)
        return {};
    uint8_t cell = m_cells[r->first + (addr - r->addr)];
    Code c;
    c.len = cell & kLenMask;
    c.ends = cell & kEnds;
    c.nop_operands = cell & kNopOperands;
    return c;
}

void CodeIndex::add(uint64_t addr, const Code& code)
{
    const Range* r = range_of(addr);
    if (!r || code.len == 0 || code.len > kLongestInstruction)
        return;
    uint8_t& cell = m_cells[r->first + (addr - r->addr)];
    if (cell == 0)
        ++m_count;
    cell = uint8_t(code.len | (code.ends ? kEnds : 0) | (code.nop_operands ? kNopOperands : 0));
}

void CodeIndex::remove(uint64_t addr)
{
    const Range* r = range_of(addr);
    if (!r)
        return;
    uint8_t& cell = m_cells[r->first + (addr - r->addr)];
    if (cell != 0)
        --m_count;
    cell = 0;
}

void CodeIndex::clear()
{
    std::fill(m_cells.begin(), m_cells.end(), 0);
    m_count = 0;
}

uint64_t CodeIndex::next(uint64_t addr) const
{
    if (m_count == 0)
        return kNone;
    auto it = std::upper_bound(m_ranges.begin(), m_ranges.end(), addr,
                               [](uint64_t a, const Range& r) { return a < r.addr; });
    if (it != m_ranges.begin() && addr - std::prev(it)->addr < std::prev(it)->size)
        --it;
    for (; it != m_ranges.end(); ++it) {
        uint64_t from = addr > it->addr ? addr - it->addr : 0;
        const uint8_t* begin = m_cells.data() + it->first;
        const uint8_t* p = begin + from;
        const uint8_t* end = begin + it->size;
        // Eight cells at a time through the long runs of data bytes.
        while (p < end && (reinterpret_cast<uintptr_t>(p) & 7))
            if (*p++)
                return it->addr + uint64_t(p - 1 - begin);
        while (end - p >= 8) {
            uint64_t word;
            std::memcpy(&word, p, 8);
            if (word)
                break;
            p += 8;
        }
        for (; p < end; ++p)
            if (*p)
                return it->addr + uint64_t(p - begin);
    }
    return kNone;
}

uint64_t CodeIndex::last_before(uint64_t addr) const
{
    for (uint64_t back = 1; back <= kLongestInstruction && back <= addr; ++back)
        if (at(addr - back).len)
            return addr - back;
    return kNone;
}

} // namespace reasm
