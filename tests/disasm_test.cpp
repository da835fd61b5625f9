// Decoding into NASM text: each rewriting step on byte vectors, operand
// records and flow facts, and a round trip through the real NASM.
#include "binimage.h"
#include "disasm.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <vector>

using namespace testutil;

namespace {

dis::Insn dec(const std::string& hex, int bits = 64, uint64_t addr = 0x1000, bool ops = false)
{
    std::vector<uint8_t> b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        b.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    dis::Insn i;
    dis::decode(b.data(), b.size(), addr, bits, &i, ops);
    return i;
}

TEST(Decode, RecordOfValidInvalidTruncatedAndEmptyInput)
{
    dis::Insn mov = dec("4889D8CCCC");
    EXPECT_TRUE(mov.valid);
    EXPECT_EQ(mov.text, "mov rax, rbx");
    EXPECT_EQ(mov.addr, 0x1000u);
    ASSERT_EQ(mov.len, 3);
    EXPECT_EQ(mov.bytes[2], 0xD8);
    EXPECT_EQ(mov.bytes[3], 0); // bytes copied only for the instruction's length

    dis::Insn bad = dec("0F");
    EXPECT_FALSE(bad.valid);
    EXPECT_EQ(bad.len, 1);
    EXPECT_EQ(bad.text, "db 0x0F");
    EXPECT_EQ(bad.bytes[0], 0x0F);
    // A truncated instruction is undecodable, not read past its end.
    dis::Insn cut = dec("B80102");
    EXPECT_FALSE(cut.valid);
    EXPECT_EQ(cut.text, "db 0xB8");

    dis::Insn empty;
    empty.text = "stale";
    empty.valid = true;
    empty.ops.resize(3);
    dis::decode(nullptr, 0, 0x55, 64, &empty, true);
    EXPECT_EQ(empty.len, 0);
    EXPECT_FALSE(empty.valid);
    EXPECT_TRUE(empty.text.empty());
    EXPECT_TRUE(empty.ops.empty());
    EXPECT_EQ(empty.addr, 0x55u);
}

// One or a few rows per rewriting rule: mode, bytes, the NASM text.
struct TextCase {
    int bits;
    const char* hex;
    const char* text;
};

const TextCase kTexts[] = {
    { 64, "488B05F90F0000", "mov rax, [rel 0x2000]" },
    { 64, "488305F0FFFFFF05", "add qword [rel 0xFF8], 0x5" }, // negative displacement and a size word
    { 64, "8B042500100000", "mov eax, [abs 0x1000]" },
    { 64, "64488B042528000000", "mov rax, [fs:0x28]" }, // the stack protector's load gets no "abs"
    { 64, "48A18877665544332211", "mov rax, [abs qword 0x1122334455667788]" },
    { 64, "67A100100000", "a32 mov eax, [abs 0x1000]" },
    // 32- and 16-bit code name the address width only when it differs.
    { 32, "A100100000", "mov eax, [0x1000]" },
    { 32, "67A13412", "mov eax, [word 0x1234]" },
    { 16, "67A134120000", "mov ax, [dword 0x1234]" },
    // "ptr" removed, segments moved inside the brackets.
    { 64, "48FF4808", "dec qword [rax+0x8]" },
    { 32, "2666678B05", "mov ax, [es:di]" },
    { 32, "368945FC", "mov [ss:ebp-0x4], eax" },
    // A size word only where no register of the access's width says it.
    { 64, "8903", "mov [rbx], eax" },
    { 64, "C70301000000", "mov dword [rbx], 0x1" },
    { 64, "0FB606", "movzx eax, byte [rsi]" },
    { 64, "F2480F2A03", "cvtsi2sd xmm0, qword [rbx]" },
    { 64, "F20F2A03", "cvtsi2sd xmm0, dword [rbx]" },
    { 64, "0F2800", "movaps xmm0, [rax]" },
    { 64, "DB2B", "fld tword [rbx]" },
    { 64, "62F1FE486F07", "vmovdqu64 zmm0, zword [rdi]" },
    { 64, "C4E27D5803", "vpbroadcastd ymm0, dword [rbx]" },
    { 64, "480FC70F", "cmpxchg16b oword [rdi]" },
    // Far forms keep NASM's own "far" or none, and take no size word.
    { 32, "FF2B", "jmp far [ebx]" },
    { 32, "C503", "lds eax, [ebx]" },
    { 64, "480FB223", "lss rsp, [rbx]" },
    { 16, "9A000000F0", "call 0xF000:0x0000" },
    { 16, "669A785600003412", "call dword 0x1234:0x00005678" },
    { 32, "66EA78563412", "jmp word 0x1234:0x5678" },
    { 32, "EABC9A78563412", "jmp 0x1234:0x56789ABC" },
    // An index without a base is not split into base+index by NASM.
    { 64, "8B044500000000", "mov eax, [nosplit rax*2]" },
    { 64, "8B040D10000000", "mov eax, [nosplit rcx*1+0x10]" },
    { 64, "8B048D00000000", "mov eax, [rcx*4]" },
    { 64, "488D040B", "lea rax, [rbx+rcx]" }, // scale one dropped
    { 64, "488D440B08", "lea rax, [rbx+rcx+0x8]" },
    { 64, "488D448BF8", "lea rax, [rbx+rcx*4-0x8]" },
    { 64, "0F1F440000", "nop dword [rax+rax]" },
    { 64, "660F1F440000", "nop word [rax+rax]" },
    // Mnemonics NASM spells otherwise.
    { 32, "6660", "pushaw" },
    { 16, "60", "pusha" },
    { 16, "CF", "iret" },
    { 32, "66CF", "iretw" },
    { 32, "DBE1", "fndisi" },
    { 64, "CB", "retf" },
    { 64, "CA1000", "retf 0x10" },
    // The notrack prefix is written as the segment prefix it is.
    { 64, "3EFFE0", "ds jmp rax" },
    { 64, "F2FFE0", "bnd jmp rax" },
    { 7, "4889D8", "mov rax, rbx" }, // an unknown width means 64
};

TEST(Decode, TextFollowsNasmSyntax)
{
    for (const TextCase& c : kTexts) {
        dis::Insn i = dec(c.hex, c.bits);
        EXPECT_TRUE(i.valid) << c.hex;
        EXPECT_EQ(i.text, c.text) << c.bits << "-bit " << c.hex;
    }
    dis::Insn rip = dec("488305F0FFFFFF05");
    EXPECT_TRUE(rip.has_mem);
    EXPECT_EQ(rip.mem, 0xFF8u);
}

// The flow facts as one line: kinds, then the target when known.
std::string flow(const dis::Insn& i)
{
    std::ostringstream s;
    s << (i.is_call ? "call" : "") << (i.is_jump ? "jump" : "") << (i.is_ret ? "ret" : "");
    if (i.has_target)
        s << " -> 0x" << std::hex << i.target;
    return s.str();
}

TEST(Decode, FlowFacts)
{
    const struct {
        int bits;
        uint64_t addr;
        const char* hex;
        const char* flow;
    } cases[] = {
        { 64, 0x1000, "E8FB0F0000", "call -> 0x2000" },
        { 64, 0x1000, "FFD0", "call" },
        { 64, 0x1000, "FF1510000000", "call" },
        { 16, 0, "9A000000F0", "call" }, // far: no target in this segment
        { 64, 0x1000, "C3", "ret" },
        { 64, 0x1000, "74FE", "jump -> 0x1000" },
        { 16, 0x100, "EBFE", "jump -> 0x100" },
        { 64, 0x1000, "4889D8", "" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(flow(dec(c.hex, c.bits, c.addr)), c.flow) << c.hex;
    EXPECT_EQ(dec("FF1510000000").mem, 0x1016u);
}

std::string describe(const dis::Operand& o)
{
    std::ostringstream s;
    if (o.kind == dis::Operand::Reg) {
        s << o.reg << ">" << o.reg64 << (o.shift ? "^8" : "");
    } else if (o.kind == dis::Operand::Mem) {
        s << "[" << (o.seg.empty() ? "" : o.seg + ":") << o.base << (o.index.empty() ? "" : "+" + o.index) << "*"
          << o.scale << std::showpos << o.disp << std::noshowpos;
        if (o.rip)
            s << " =0x" << std::hex << o.abs << std::dec;
        s << "]";
    } else {
        s << (o.kind == dis::Operand::Imm ? "imm" : "other");
    }
    s << " " << o.size << (o.read ? "r" : "") << (o.write ? "w" : "") << (o.visible ? "" : " hidden");
    return s.str();
}

std::string describe(const dis::Insn& i)
{
    std::string s;
    for (const dis::Operand& o : i.ops)
        s += (s.empty() ? "" : " | ") + describe(o);
    return s;
}

TEST(Operands, RecordsOfRegistersMemoryAndImmediates)
{
    const struct {
        int bits;
        const char* hex;
        const char* ops;
    } cases[] = {
        { 64, "88E0", "al>rax 1w | ah>rax^8 1r" }, // registers widened in their mode
        { 32, "88E0", "al>eax 1w | ah>eax^8 1r" },
        { 64, "8EC0", "es>es 2w | ax>rax 2r" }, // registers without a wider form stand for themselves
        { 64, "0F20C0", "rax>rax 8w | cr0>cr0 8r" },
        { 64, "438B84EC00010000", "eax>rax 4w | [r12+r13*8+256] 4r" },
        { 64, "488B05F90F0000", "rax>rax 8w | [rip*1+4089 =0x2000] 8r" },
        { 64, "64488B042528000000", "rax>rax 8w | [fs:*1+40] 8r" },
        { 32, "8B45F8", "eax>eax 4w | [ebp*1-8] 4r" },
        { 64, "4801D8", "rax>rax 8rw | rbx>rbx 8r" }, // no record of the flags
        { 64, "B801000000", "eax>rax 4w | imm 4r" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(dec(c.hex, c.bits, 0x1000, true)), c.ops) << c.bits << "-bit " << c.hex;

    // push rbx: the stack pointer and the stack slot are hidden operands.
    std::string push = describe(dec("53", 64, 0, true));
    EXPECT_EQ(push.rfind("rbx>rbx 8r |", 0), 0u) << push;
    EXPECT_NE(push.find("rsp>rsp 8rw hidden"), std::string::npos) << push;
    EXPECT_EQ(push.find("flags"), std::string::npos) << push;
    EXPECT_TRUE(dec("4801D8").ops.empty()); // only on request
}

TEST(Sweep, AdvancesOverUndecodableBytesAndStopsAtMax)
{
    std::vector<uint8_t> code { 0x90, 0x0F, 0x48, 0x89, 0xD8, 0xC3 };
    auto v = dis::sweep(code.data(), code.size(), 0x400, 64, 100);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[1].text, "db 0x0F");
    EXPECT_EQ(v[2].addr, 0x402u);
    EXPECT_EQ(v[2].text, "mov rax, rbx");
    EXPECT_EQ(v[3].addr, 0x405u);
    EXPECT_EQ(dis::sweep(code.data(), code.size(), 0, 64, 2).size(), 2u);
    EXPECT_TRUE(dis::sweep(code.data(), 0, 0, 64, 10).empty());
}

TEST(HexBytes, CutsWithEllipsis)
{
    dis::Insn i = dec("488B05F90F0000");
    EXPECT_EQ(dis::hex_bytes(i, 7), "488B05F90F0000");
    EXPECT_EQ(dis::hex_bytes(i, 6), "488B05F90F00\u2026");
    EXPECT_EQ(dis::hex_bytes(i, 0), "\u2026");
}

TEST(AsmText, RipRelativeNumbersAndBranchTargetsBecomeDollarRelative)
{
    const std::pair<const char*, const char*> cases[] = {
        { "488B05F90F0000", "mov rax, [rel $+0x1000]" },
        { "488D05F0FFFFFF", "lea rax, [rel $-0x9]" },
        { "4889D8", "mov rax, rbx" },
        { "EBFE", "jmp short $+0x0" },
        { "0F8400010000", "jz near $+0x106" },
        { "3E7410", "jz short $+0x13" }, // behind a prefix
        { "E8F0FFFFFF", "call $-0xB" },
        { "E2FE", "loop $+0x0" },
        { "F2E900000000", "bnd jmp near $+0x6" },
    };
    for (const auto& [hex, text] : cases)
        EXPECT_EQ(dis::asm_text(dec(hex)), text) << hex;
}

// A range longer than the limit lists 20,000 instructions and ends with one
// line that says how many bytes are left; one exactly at the limit lists all
// and says nothing.
TEST(Listing, StopsAfter20000InstructionsPerRangeAndSaysHowManyAreLeft)
{
    const struct {
        size_t nops;
        const char* tail; // the last line, or nullptr when a listed nop ends the output
    } cases[] = {
        { 19999, nullptr },
        { 20000, nullptr },
        { 20001, "  ... 1 more bytes not listed (at most 20000 instructions per code range)\n" },
        { 20005, "  ... 5 more bytes not listed (at most 20000 instructions per code range)\n" },
    };
    TempDir dir;
    for (const auto& c : cases) {
        ASSERT_TRUE(write_file(dir.file("nops.bin"), std::string(c.nops, '\x90')));
        RunResult r = run_exe({ "--disasm", dir.file("nops.bin"), "32" });
        ASSERT_EQ(r.code, 0) << r.err;
        size_t lines = 0;
        for (size_t p = r.out.find("  nop"); p != std::string::npos; p = r.out.find("  nop", p + 1))
            ++lines;
        EXPECT_EQ(lines, std::min<size_t>(c.nops, 20000)) << c.nops;
        EXPECT_NE(r.out.find("RAW, 32 bit, entry 0, " + std::to_string(c.nops) + " bytes"), std::string::npos);
        EXPECT_NE(r.out.find("  00004e1e  90"), std::string::npos);
        EXPECT_EQ(r.out.find("  00004e20  90"), std::string::npos);
        EXPECT_EQ(r.out.find("not listed") != std::string::npos, c.tail != nullptr) << c.nops;
        if (c.tail)
            EXPECT_TRUE(r.out.ends_with(c.tail)) << c.nops << ": " << r.out.substr(r.out.size() - 200);
        else
            EXPECT_TRUE(r.out.ends_with("nop                                  ; do nothing\n")) << c.nops;
    }
}

// File names from the command line reach the terminal escaped, both in the
// header and when the file cannot be read.
TEST(Listing, EscapesControlBytesInTheFileName)
{
    TempDir dir;
    const std::string hostile = "x\x1B]0;pwn\x07\x9B.bin";
    const std::string shown = "x\\x1B]0;pwn\\x07\\x9B.bin";
    ASSERT_TRUE(write_file(dir.file(hostile), "\x90"));
    for (const std::string& name : { hostile, "missing-" + hostile }) {
        RunResult r = run_exe({ "--disasm", dir.file(name) });
        EXPECT_EQ(r.out.find_first_of("\x1B\x07\x9B"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
    }
}

// Bytes -> text -> NASM -> the same bytes. The corpus is assembled by NASM
// first, so every encoding in it is one NASM itself chooses. Known
// exceptions are written back as bytes and must still occur.
struct Exception {
    const char* hex;
    const char* why;
};

void round_trip(int bits, uint64_t org, const std::string& corpus_file, const std::vector<Exception>& exceptions)
{
    TempDir dir;
    std::string head = "bits " + std::to_string(bits) + "\norg " + std::to_string(org) + "\n";
    std::string corpus = read_file(tests_dir() + "/data/disasm/" + corpus_file);
    ASSERT_FALSE(corpus.empty()) << corpus_file;
    const std::string jcc = read_file(tests_dir() + "/data/disasm/jcc.s");
    ASSERT_FALSE(jcc.empty());
    corpus += jcc;
    ASSERT_EQ(nasm_build(head + corpus, dir.file("orig.bin"), "bin"), "");
    std::string orig = read_file(dir.file("orig.bin"));
    ASSERT_FALSE(orig.empty());

    auto insns = dis::sweep(reinterpret_cast<const uint8_t*>(orig.data()), orig.size(), org, bits, 100000);
    std::set<std::string> used;
    std::string again = head;
    for (const dis::Insn& i : insns) {
        EXPECT_TRUE(i.valid) << "at 0x" << std::hex << i.addr;
        std::string hex = dis::hex_bytes(i, 15);
        bool exception = false;
        for (const Exception& e : exceptions)
            exception |= hex == e.hex;
        if (!exception) {
            again += dis::asm_text(i) + "\n";
            continue;
        }
        used.insert(hex);
        again += "db ";
        for (int k = 0; k < i.len; ++k)
            again += (k ? ", 0x" : "0x") + hex.substr(2 * k, 2);
        again += "\n";
    }
    ASSERT_EQ(nasm_build(again, dir.file("again.bin"), "bin"), "") << again;
    std::string back = read_file(dir.file("again.bin"));
    for (const dis::Insn& i : insns) {
        size_t off = i.addr - org;
        if (orig.substr(off, i.len) != back.substr(std::min(off, back.size()), i.len)) {
            ADD_FAILURE() << "first difference at 0x" << std::hex << i.addr << ": " << i.text << " (" << dis::hex_bytes(i, 15) << ")";
            break;
        }
    }
    EXPECT_EQ(back.size(), orig.size());
    for (const Exception& e : exceptions)
        EXPECT_TRUE(used.count(e.hex)) << "exception no longer met: " << e.hex << " " << e.why;
}

// Encodings whose size, segment or rounding lives in a prefix or in an
// operand NASM cannot infer: each listed line, assembled by NASM at its
// address, gives the same bytes; `same_meaning` rows may differ in bytes
// (prefix order, a redundant REX bit) but must decode to the same operation.
// Undecodable-by-NASM forms come back as bytes with the meaning beside them.
struct Listed {
    int bits;
    const char* hex;
    const char* text; // the listed line, nullptr when only the round trip is checked
    bool same_meaning = false;
};

const Listed kListed[] = {
    // Operand size the text must name.
    { 64, "666A05", "push word 0x5" },
    { 64, "66683412", "push word 0x1234" },
    { 32, "666A05", "push word 0x5" },
    { 16, "666A05", "push dword 0x5" },
    { 64, "66C3", "o16 ret" },
    { 64, "66C20800", "o16 ret 0x8" },
    { 16, "66C3", "o32 ret" },
    { 64, "66C9", "o16 leave" },
    { 32, "66C9", "o16 leave" },
    { 64, "66C8100000", "o16 enter 0x10, 0x0" },
    { 64, "669C", "pushfw" },
    { 64, "669D", "popfw" },
    { 16, "669C", "pushfd" },
    { 64, "660FA0", "o16 push fs" },
    { 64, "66CB", "o16 retf" },
    { 64, "48CB", "o64 retf" },
    { 64, "4BCA1000", "o64 retf 0x10", true },
    { 64, "66CF", "iretw" },
    // Far indirect operands name the offset size when NASM's default differs.
    { 64, "FF1A", "call far dword [rdx]" },
    { 64, "48FF1A", "call far [rdx]" },
    { 64, "66FF1A", "call far word [rdx]" },
    { 64, "FF2A", "jmp far dword [rdx]" },
    { 32, "66FF1B", "call far word [ebx]" },
    { 16, "66FF1F", "call far dword [bx]" },
    // Address size: string instructions, loop, EIP-relative and moffs.
    { 64, "67AD", "a32 lodsd" },
    { 64, "67AA", "a32 stosb" },
    { 16, "67AD", "a32 lodsw" },
    { 64, "67E2FD", "a32 loop 0x1000" },
    { 32, "67E2FD", "a16 loop 0x1000" },
    { 64, "67F3A4", nullptr, true },
    { 64, "674889050A000000", "a32 mov [rel 0x1012], rax" },
    { 64, "67A200100080", "a32 mov [abs 0x80001000], al" },
    { 64, "67A100100000", "a32 mov eax, [abs 0x1000]" },
    { 64, "678B042500100080", "a32 mov eax, [abs 0x80001000]", true },
    // Segment overrides on operands the text does not show.
    { 64, "65A5", "gs movsd" },
    { 64, "64D7", "fs xlat" },
    { 16, "26AC", "es lodsb" },
    { 32, "2EA6", "cs cmpsb" },
    { 64, "F364A4", nullptr, true },
    { 64, "6548A18877665544332211", "mov rax, [abs qword gs:0x1122334455667788]" },
    { 64, "65A28877665544332211", "mov [abs qword gs:0x1122334455667788], al" },
    // Embedded rounding and exception suppression are operands of their own.
    { 64, "62F1ED1858CB", "vaddpd zmm1, zmm2, zmm3, {rn-sae}" },
    { 64, "62F16CF958CB", "vaddps zmm1 {k1} {z}, zmm2, zmm3, {rz-sae}" },
    { 64, "62F17F182DC1", "vcvtsd2si eax, xmm1, {rn-sae}" },
    { 64, "62F1FD182ECA", "vucomisd xmm1, xmm2, {sae}" },
    // Sizes NASM refuses or needs.
    { 64, "0FAE3B", "clflush [rbx]" },
    { 64, "0F6203", "punpckldq mm0, [rbx]" },
    { 64, "F2480F38F103", "crc32 rax, qword [rbx]" },
    { 64, "F20F38F103", "crc32 eax, dword [rbx]" },
    { 32, "6203", "bound eax, [ebx]" },
    // No NASM spelling: the bytes, with what they mean.
    { 16, "0FB70C", "db 0x0F, 0xB7, 0x0C ; movzx cx, word [si]" },
    { 64, "660FB7C0", "db 0x66, 0x0F, 0xB7, 0xC0 ; movzx ax, ax" },
    { 64, "660FBFC8", "db 0x66, 0x0F, 0xBF, 0xC8 ; movsx cx, ax" },
    { 64, "6303", "db 0x63, 0x03 ; movsxd eax, dword [rbx]" },
    { 64, "660FC8", "db 0x66, 0x0F, 0xC8 ; bswap ax" },
    { 64, "D9D9", "db 0xD9, 0xD9 ; fstpnce st1" },
    { 64, "0F1EC8", "db 0x0F, 0x1E, 0xC8 ; nop eax, ecx" },
    { 64, "0F1F4C0000", "db 0x0F, 0x1F, 0x4C, 0x00, 0x00 ; nop dword [rax+rax]" },
    { 64, "0F0D26", "db 0x0F, 0x0D, 0x26 ; prefetch byte [rsi]" },
    { 64, "0F0D06", "prefetch [rsi]" },
    { 64, "679B", "db 0x67, 0x9B ; fwait" },
};

// What an instruction does, independent of how its bytes spell it: the
// text, the address width and every operand record.
std::string meaning(const std::string& bytes, int bits)
{
    dis::Insn i;
    dis::decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0x1000, bits, &i, true);
    std::string text = i.text;
    size_t comment = text.find(" ; ");
    if (comment != std::string::npos)
        text = text.substr(comment + 3);
    return text + " /" + std::to_string(i.addr_bits) + " " + describe(i);
}

TEST(RoundTrip, PrefixesSizesAndSegmentsSurviveTheListing)
{
    TempDir dir;
    for (const Listed& c : kListed) {
        std::string orig;
        for (size_t k = 0; c.hex[k] && c.hex[k + 1]; k += 2)
            orig += char(std::stoul(std::string(c.hex + k, 2), nullptr, 16));
        dis::Insn i = dec(c.hex, c.bits);
        ASSERT_TRUE(i.valid) << c.hex;
        ASSERT_EQ(i.len, orig.size()) << c.hex;
        if (c.text) {
            EXPECT_EQ(i.text, c.text) << c.bits << "-bit " << c.hex;
        }
        std::string src = "bits " + std::to_string(c.bits) + "\norg 0x1000\n" + dis::asm_text(i) + "\n";
        std::string err = nasm_build(src, dir.file("one.bin"), "bin");
        if (!err.empty()) {
            ADD_FAILURE() << c.bits << "-bit " << c.hex << ": NASM refuses \"" << dis::asm_text(i) << "\": " << err;
            continue;
        }
        std::string back = read_file(dir.file("one.bin"));
        if (back == orig)
            continue;
        EXPECT_TRUE(c.same_meaning) << c.bits << "-bit " << c.hex << " came back as a different encoding: " << i.text;
        EXPECT_EQ(meaning(back, c.bits), meaning(orig, c.bits)) << c.bits << "-bit " << c.hex;
    }
}

TEST(RoundTrip, Code64)
{
    round_trip(64, 0x401000, "corpus64.s", {
        { "662E0F1F840000000000", "the padding nop's cs prefix and long displacement have no NASM spelling" },
    });
}

TEST(RoundTrip, Code32)
{
    round_trip(32, 0x8048000, "corpus32.s", {
    });
}

TEST(RoundTrip, Code16)
{
    round_trip(16, 0x100, "corpus16.s", {});
}

} // namespace

// The direct formatter copies Zydis's formatting rules; every instruction it
// handles in a real library must read exactly as the formatter path writes it.
TEST(Decode, DirectFormattingAgreesWithTheFormatter)
{
    BinImage libc;
    std::string err;
    ASSERT_TRUE(libc.load("/usr/lib/x86_64-linux-gnu/libc.so.6", &err)) << err;
    size_t compared = 0, differing = 0;
    for (const auto& range : libc.code_ranges()) {
        const uint8_t* code = libc.m_data.data() + range.off;
        // Every byte offset, so odd and rare encodings come up too.
        for (size_t i = 0; i < range.size && i < 400000; ++i) {
            for (int bits : { 64, 32, 16 }) {
                std::string direct, general;
                size_t left = std::min<size_t>(15, range.size - i);
                if (!dis::detail::both_formats(code + i, left, range.addr + i, bits, &direct, &general))
                    continue;
                ++compared;
                if (direct != general && ++differing <= 10)
                    ADD_FAILURE() << bits << "-bit at +" << i << ": direct \"" << direct << "\", formatter \""
                                  << general << "\"";
            }
        }
    }
    EXPECT_GT(compared, 100000u);
    EXPECT_EQ(differing, 0u);
}
