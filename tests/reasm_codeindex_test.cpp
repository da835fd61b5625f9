// The index of instruction starts against an ordered map doing the same
// work: random adds and removes over ranges with gaps between them.
#include "reasm_codeindex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using reasm::Code;
using reasm::CodeIndex;

namespace {

Code code(uint8_t len, bool ends = false)
{
    Code c;
    c.len = len;
    c.ends = ends;
    c.nop_operands = len % 3 == 0;
    return c;
}

} // namespace

TEST(CodeIndex, AgreesWithAnOrderedMapOverRangesWithGaps)
{
    CodeIndex index;
    // Two ranges that overlap become one; a gap, then a range right at the
    // top of the address space.
    index.cover({ { 0x1000, 0x300 }, { 0x1200, 0x200 }, { 0x8000, 0x100 }, { UINT64_MAX - 0x40, 0x100 } });
    EXPECT_EQ(index.covered_bytes(), 0x400u + 0x100u + 0x40u);
    EXPECT_TRUE(index.covers(0x13FF));
    EXPECT_FALSE(index.covers(0x1400));
    EXPECT_FALSE(index.covers(UINT64_MAX)) << "the last address is kNone";

    std::map<uint64_t, Code> model;
    std::mt19937_64 rng(7);
    const uint64_t bases[] = { 0x1000, 0x8000, UINT64_MAX - 0x40 };
    const uint64_t sizes[] = { 0x400, 0x100, 0x40 };
    for (int step = 0; step < 20000; ++step) {
        int r = int(rng() % 3);
        uint64_t a = bases[r] + rng() % sizes[r];
        if (rng() % 4 == 0) {
            index.remove(a);
            model.erase(a);
        } else {
            Code c = code(uint8_t(1 + rng() % 15), rng() % 2);
            index.add(a, c);
            model[a] = c;
        }
        if (step % 997 != 0)
            continue;
        ASSERT_EQ(index.size(), model.size());
        std::vector<uint64_t> seen;
        for (const auto& [addr, c] : index) {
            seen.push_back(addr);
            ASSERT_EQ(c.len, model.at(addr).len);
            ASSERT_EQ(c.ends, model.at(addr).ends);
            ASSERT_EQ(c.nop_operands, model.at(addr).nop_operands);
        }
        std::vector<uint64_t> expected;
        for (const auto& [addr, c] : model)
            expected.push_back(addr);
        ASSERT_EQ(seen, expected);
        // next and last_before from every address of each range and of
        // the gaps around it.
        auto probe = [&](uint64_t at) {
            auto it = model.lower_bound(at);
            ASSERT_EQ(index.next(at), it == model.end() ? CodeIndex::kNone : it->first) << at;
            uint64_t before = CodeIndex::kNone;
            if (it != model.begin() && at - std::prev(it)->first <= 15)
                before = std::prev(it)->first;
            ASSERT_EQ(index.last_before(at), before) << at;
        };
        probe(0);
        for (int k = 0; k < 3; ++k)
            for (uint64_t at = bases[k] - 0x20; at != bases[k] + sizes[k] + 0x20 && at != UINT64_MAX; ++at)
                probe(at);
    }
    index.clear();
    EXPECT_TRUE(index.empty());
    EXPECT_EQ(index.next(0), CodeIndex::kNone);
    EXPECT_TRUE(index.begin() == index.end());
}

TEST(CodeIndex, RefusesWhatItCannotHold)
{
    CodeIndex index;
    index.cover({ { 0x100, 0x10 } });
    index.add(0x0FF, code(1));  // below
    index.add(0x110, code(1));  // past the end
    index.add(0x104, code(0));  // no length
    index.add(0x105, code(16)); // longer than any instruction
    EXPECT_TRUE(index.empty());
    index.add(0x10F, code(15));
    EXPECT_EQ(index.at(0x10F).len, 15);
    EXPECT_EQ(index.next(0x110), CodeIndex::kNone);
    // Covering anew forgets everything.
    index.cover({ { 0x100, 0x10 } });
    EXPECT_EQ(index.at(0x10F).len, 0);
}
