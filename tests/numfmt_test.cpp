#include "numfmt.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char* text;
    bool ok;
    uint64_t value;
    int bytes;
};

const ParseCase kParseCases[] = {
    { "  42  ", true, 42, 0 },
    { "- 42", false, 0, 0 },
    { "0x_ff", true, 255, 1 },
    { "1_000", true, 1000, 0 },
    { "_", false, 0, 0 },
    { "0x12345678901234567", false, 0, 0 },
    { "01234567890abcdefh", true, 0x1234567890abcdefull, 0 },
    { "012345678901234567h", false, 0, 0 },
    { "-1", true, ~0ull, 8 },
    { "-0x80", true, 0xFFFFFFFFFFFFFF80ull, 1 },
    { "'AB'", true, 0x4241, 2 },
    { "''", false, 0, 0 },
    { "'123456789'", false, 0, 0 },
    // Eight characters still fit: the full 64 bits, first character lowest.
    { "'abcdefgh'", true, 0x6867666564636261ull, 8 },
    { "'abcd'", true, 0x64636261, 4 },
    { "0b102", false, 0, 0 },
    { "101b", true, 5, 0 },
    { "0x10", true, 16, 1 },
    { "10h", true, 16, 0 },
    { "0q17", true, 15, 0 },
    { "17o", true, 15, 0 },
    { "0t99", true, 99, 0 },
    { "99d", true, 99, 0 },
    { "99999999999999999999", true, ~0ull, 0 },
    { "999999999999999999999", false, 0, 0 },
    // Order of the notations decides the ambiguous ones.
    { "0bh", true, 11, 0 },
    { "0b", true, 0, 0 },
    { "11b", true, 3, 0 },
    { "$", false, 0, 0 },
    { "$ff", true, 255, 1 },
    { "0h1234", true, 0x1234, 2 },
    { "0x001", true, 1, 2 },
    { "0x123456789", true, 0x123456789ull, 8 },
    { "0b100000000", true, 256, 2 },
    { "ah", false, 0, 0 },
    { "+7", true, 7, 0 },
    { "-", false, 0, 0 },
    { "", false, 0, 0 },
    { "   ", false, 0, 0 },
    { "`abcde`", true, 0x6564636261ull, 8 },
    { "\"abc\"", true, 0x636261, 4 },
    { "'a\"", false, 0, 0 },
    { "0D12", true, 12, 0 },
    { "0d", true, 0, 0 },
    { "12z", false, 0, 0 },
    { "0X1F", true, 31, 1 },
};

TEST(NumfmtParse, TableOfNotations)
{
    for (const auto& c : kParseCases) {
        uint64_t value = 0xDEADBEEF;
        int bytes = -5;
        bool ok = numfmt::parse(c.text, &value, &bytes);
        EXPECT_EQ(ok, c.ok) << "text: [" << c.text << "]";
        if (ok && c.ok) {
            EXPECT_EQ(value, c.value) << "text: [" << c.text << "]";
            EXPECT_EQ(bytes, c.bytes) << "text: [" << c.text << "]";
        } else if (!ok) {
            EXPECT_EQ(value, 0xDEADBEEFu) << "value touched on failure: [" << c.text << "]";
        }
    }
}

TEST(NumfmtParse, SeventeenHexDigitsWithSuffixKeepLowBits)
{
    uint64_t v = 0;
    int bytes = -1;
    ASSERT_TRUE(numfmt::parse("0fedcba9876543210h", &v, &bytes));
    EXPECT_EQ(v, 0xfedcba9876543210ull);
}

TEST(NumfmtParse, LongBinarySuffixSaturates)
{
    uint64_t v = 0;
    int bytes = -1;
    ASSERT_TRUE(numfmt::parse(std::string(70, '1') + "b", &v, &bytes));
    EXPECT_EQ(v, ~0ull);
    ASSERT_FALSE(numfmt::parse("0b" + std::string(65, '1'), &v, &bytes));
}

TEST(NumfmtParse, NulBytesAreNoQuotes)
{
    uint64_t v = 0;
    int bytes = -1;
    EXPECT_FALSE(numfmt::parse(std::string("\0A\0", 3), &v, &bytes));
    EXPECT_EQ(v, 0u);
}

TEST(NumfmtFormat, Hex)
{
    EXPECT_EQ(numfmt::hex(5, 2), "0x0005");
    EXPECT_EQ(numfmt::hex(0, 0), "0x0");
    EXPECT_EQ(numfmt::hex(0xABCDEF, 0), "0xABCDEF");
    EXPECT_EQ(numfmt::hex(~0ull, 8), "0xFFFFFFFFFFFFFFFF");
    EXPECT_EQ(numfmt::hex(5, 20), "0x" + std::string(39, '0') + "5");
}

TEST(NumfmtFormat, BinGroupsFromTheRight)
{
    EXPECT_EQ(numfmt::bin(0x41, 8), "0100 0001");
    EXPECT_EQ(numfmt::bin(0x3F, 6), "11 1111");
    EXPECT_EQ(numfmt::bin(5, 0), "");
    EXPECT_EQ(numfmt::bin(5, -3), "");
    EXPECT_EQ(numfmt::bin(1, 4), "0001");
    // Wider than the value: the positions above its 64 bits are zeros.
    std::string wide;
    for (int group = 0; group < 16; ++group)
        wide += "0000 ";
    EXPECT_EQ(numfmt::bin(1, 68), wide + "0001");
}

TEST(NumfmtFormat, Chars)
{
    EXPECT_EQ(numfmt::chars(0x4241, 4), "AB");
    EXPECT_EQ(numfmt::chars(0x0041, 2), "A");
    EXPECT_EQ(numfmt::chars(0x4100, 2), "");
    EXPECT_EQ(numfmt::chars(0x0A41, 2), "");
    EXPECT_EQ(numfmt::chars(0x41, 0), "");
    EXPECT_EQ(numfmt::chars(0x80, 1), "");
}

TEST(NumfmtFormat, SignExtension)
{
    EXPECT_EQ(numfmt::sign(0xFF, 1), -1);
    EXPECT_EQ(numfmt::sign(0x7F, 1), 127);
    EXPECT_EQ(numfmt::sign(0x8000, 2), -32768);
    EXPECT_EQ(numfmt::sign(0xFFFFFFFE, 4), -2);
    EXPECT_EQ(numfmt::sign(0xFF, 3), 0xFF);
}

TEST(NumfmtFormat, Tooltips)
{
    EXPECT_EQ(numfmt::tip(65, 0), "0x41 = 65  \xC2\xB7  'A'  \xC2\xB7  0100 0001");
    EXPECT_EQ(numfmt::tip(0xFFFE, 2), "0xFFFE = 65534 (-2)  \xC2\xB7  1111 1111 1111 1110");
    EXPECT_EQ(numfmt::tip(0x80, 1), "0x80 = 128 (-128)  \xC2\xB7  1000 0000");
    EXPECT_EQ(numfmt::tip(0x4241, 2), "0x4241 = 16961  \xC2\xB7  'AB'  \xC2\xB7  0100 0010 0100 0001");
    // Wide values never show binary digits.
    EXPECT_EQ(numfmt::tip(0x12345678, 4), "0x12345678 = 305419896");
    EXPECT_EQ(numfmt::tip(0x8000000000000000ull, 8),
              "0x8000000000000000 = 9223372036854775808 (-9223372036854775808)");
    // The width picked for a value of width 0 changes at each power of 256.
    EXPECT_EQ(numfmt::tip(0xFF, 0), "0xFF = 255 (-1)  \xC2\xB7  1111 1111");
    EXPECT_EQ(numfmt::tip(0x100, 0), "0x100 = 256  \xC2\xB7  0000 0001 0000 0000");
    EXPECT_EQ(numfmt::tip(0xFFFF, 0), "0xFFFF = 65535 (-1)  \xC2\xB7  1111 1111 1111 1111");
    EXPECT_EQ(numfmt::tip(0x10000, 0), "0x10000 = 65536");
    EXPECT_EQ(numfmt::tip(0xFFFFFFFFull, 0), "0xFFFFFFFF = 4294967295 (-1)");
    EXPECT_EQ(numfmt::tip(0x100000000ull, 0), "0x100000000 = 4294967296");
}

} // namespace
