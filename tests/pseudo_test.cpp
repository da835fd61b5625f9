// Explanations built from decoded instructions, through the English texts.
// The golden listings in tests/cases/disasm show the common ones (moves of
// numbers, named jumps and calls, compares, pushes); these rows cover the rest.
#include "pseudo.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
    int bits;
    const char* hex;
    const char* want;
    uint64_t sym_addr = 0; // one symbol name, when sym_name is set
    const char* sym_name = nullptr;
    uint64_t at = 0x1000;
};

const Case kCases[] = {
    { 64, "0F", "" }, // undecodable
    // Addresses and names; without a name lookup at all.
    { 64, "488D3D09300000", "rdi = 0x4010" },
    { 64, "488D3D09300000", "rdi = 0x4010", 0x4011, "other" },
    { 64, "8B042500100000", "eax = [0x1000]" },
    { 64, "488D448BF8", "rax = rbx+rcx*4-0x8" },
    // Moves: long numbers get no decimal, size words are dropped.
    { 64, "B845230100", "eax = 0x12345" },
    { 64, "486303", "rax = (signed) [rbx]" },
    { 64, "0FB606", "eax = [rsi]" },
    { 64, "F20F10C1", "xmm0[63:0] = xmm1[63:0]" }, // only the low element moves
    { 64, "F30F10C1", "xmm0[31:0] = xmm1[31:0]" },
    { 64, "F30F7EC1", "xmm0 = xmm1[63:0], xmm0[127:64] = 0" },
    { 64, "660F7EC8", "eax = xmm1[31:0]" },
    { 64, "66480F6EC0", "xmm0 = rax, xmm0[127:64] = 0" },
    { 64, "F20F1003", "xmm0 = [rbx], xmm0[127:64] = 0" },
    { 64, "F30F1103", "[rbx] = xmm0[31:0]" },
    // Arithmetic.
    { 64, "4811D8", "rax += CF + rbx" },
    { 64, "4819D8", "rax -= CF + rbx" },
    { 64, "C1F802", "eax >>= 0x2 (signed)" },
    { 64, "C1E802", "eax >>= 0x2 (unsigned)" },
    { 64, "480FAFC3", "rax *= rbx" },
    { 64, "486BC30A", "rax = rbx * 0xA (10)" },
    { 64, "48F7D8", "rax = -rax" },
    { 64, "48F7D0", "rax = ~rax" },
    { 64, "C1C008", "eax = rol(eax, 0x8)" },
    { 64, "4887D8", "rax <-> rbx" },
    { 64, "87C0", "rax &= 0xFFFFFFFF" }, // writing eax clears the upper half
    { 32, "87C0", "eax <-> eax" },
    { 64, "F0830001", "[rax] += 0x1" },
    // Multiply and divide name their implied registers by operand width.
    { 64, "F733", "eax = edx:eax / [rbx], edx = edx:eax % [rbx]" },
    { 64, "F6F3", "al = ax / bl, ah = ax % bl" },
    { 64, "F7E9", "edx:eax = eax * ecx (signed)" },
    { 64, "66F7E3", "dx:ax = ax * bx" },
    { 64, "49F7F8", "rax = rdx:rax / r8, rdx = rdx:rax % r8 (signed)" },
    { 64, "41F7F0", "eax = edx:eax / r8d, edx = edx:eax % r8d" },
    { 64, "4899", "rdx:rax = (signed) rax" },
    { 64, "98", "eax = (signed) ax" },
    // Compares, conditions and jumps.
    { 64, "84C3", "bl & al (flags only)" },
    { 64, "0F8C00010000", "if <: jump to 0x10106", 0, nullptr, 0x10000 },
    { 64, "7700", "if u>: jump to 0x1002 (4098)" },
    { 64, "E300", "if rcx == 0: jump to empty", 0x1002, "empty" },
    { 32, "E0FE", "if --ecx != 0 && !ZF: jump to top", 0x1000, "top" },
    { 64, "E1FE", "if --rcx != 0 && ZF: jump to top", 0x1000, "top" },
    { 16, "E2FE", "if --cx != 0: jump to top", 0x1000, "top" },
    { 64, "FFE0", "jump to rax" },
    { 64, "3EFFE0", "jump to rax" }, // notrack
    { 64, "0F4FC3", "if (>) eax = ebx" },
    { 64, "0F95C0", "al = (!=)" },
    { 64, "0F90C0", "al = (OF)" },
    // Calls, stack and system.
    { 64, "FFD0", "call rax" },
    { 64, "C20800", "return to the caller and release 8 more bytes of the stack" },
    { 64, "66C3", "return to the caller" },
    { 64, "CB", "return to the caller" },
    { 64, "C9", "remove the stack frame" },
    { 64, "C8100000", "build a stack frame" },
    { 32, "0F34", "system call" },
    { 32, "CD80", "system call" },
    { 64, "CD80", "system call (int 0x80: 32-bit ABI)" },
    { 64, "FA", "IF = 0 (kernel only: a user program gets a fault)" },
    { 64, "CC", "breakpoint" },
    { 64, "90", "do nothing" },
    { 64, "0F1F440000", "do nothing" },
    { 64, "F390", "spin-wait hint: wait briefly in a spin loop" },
    { 64, "F30F1EFA", "jump target marker" },
    { 64, "0F0B", "invalid instruction (deliberate crash)" },
    { 64, "0FA2", "ask the processor what it is" },
    { 64, "0F31", "edx:eax = time stamp counter" },
    { 64, "0F01F9", "edx:eax = time stamp counter, ecx = TSC_AUX" },
    { 64, "FC", "DF = 0" },
    { 64, "F5", "CF = !CF" },
    // String instructions name their registers by address width.
    { 64, "F3AA", "rep: fill memory [rdi] with al" },
    { 32, "F3A4", "rep: copy memory [esi] -> [edi]" },
    { 64, "F2AE", "repne: compare al with [rdi]" },
    { 64, "48AF", "compare rax with [rdi]" },
    { 64, "F3A6", "repe: compare [rsi] with [rdi]" },
    { 64, "65A5", "copy memory [gs:rsi] -> [rdi]" },
    { 16, "26AC", "load [es:si] into al" },
    { 64, "666A05", "push word 0x5 onto the stack" },
    { 16, "0FB70C", "cx = [si]" }, // written as bytes, explained by its meaning
    { 64, "48A5", "copy memory [rsi] -> [rdi]" },
    { 64, "67AD", "load [esi] into eax" },
};

TEST(Explain, DecodedInstructions)
{
    for (const Case& c : kCases) {
        std::vector<uint8_t> b;
        for (size_t i = 0; c.hex[i] && c.hex[i + 1]; i += 2)
            b.push_back(uint8_t(std::stoul(std::string(c.hex + i, 2), nullptr, 16)));
        dis::Insn insn;
        dis::decode(b.data(), b.size(), c.at, c.bits, &insn, false);
        EXPECT_EQ(insn.valid, *c.want != 0) << c.hex;
        std::function<std::string(uint64_t)> names;
        if (c.sym_name)
            names = [&c](uint64_t a) { return a == c.sym_addr ? std::string(c.sym_name) : std::string(); };
        EXPECT_EQ(pseudo::comment(insn, names), c.want) << c.bits << "-bit " << c.hex;
    }
}

// Rules that Zydis never reaches with the exact spelling take the text.
TEST(Explain, TextRules)
{
    const struct {
        const char* text;
        int addr_bits;
        const char* want;
    } cases[] = {
        // Operand splitting keeps commas inside brackets and an empty first operand.
        { "cmp [rax+rbx], 0x10", 64, "compare [rax+rbx] with 0x10 (16)" },
        { "cmp , rbx", 64, "compare  with rbx" },
        { "mov rax, [abs qword 0x1122334455667788]", 64, "rax = [0x1122334455667788]" },
        { "mov eax, [abs 0x10]", 64, "eax = [0x10]" },
        { "mov xmm0, xmmword [rax]", 64, "xmm0 = [rax]" },
        { "jcxz 0x10", 64, "if cx == 0: jump to 0x10 (16)" },
        { "lodsb", 32, "load [esi] into al" },
        { "jxyz 0x10", 64, "" },
        { "notrack jmp rax", 64, "jump to rax" },
        { "frobnicate rax", 64, "" }, // no instruction set to name either
    };
    for (const auto& c : cases) {
        dis::Insn i;
        i.valid = true;
        i.text = c.text;
        i.addr_bits = c.addr_bits;
        EXPECT_EQ(pseudo::comment(i, {}), c.want) << c.text;
    }
}

// Every row of the condition table, through each of the three rule families,
// so an alias that reads the wrong relation (jbe as "u<", say) shows up.
TEST(Explain, EveryConditionInJumpsMovesAndSets)
{
    const std::pair<const char*, const char*> rows[] = {
        { "e", "==" }, { "z", "==" }, { "ne", "!=" }, { "nz", "!=" },
        { "g", ">" }, { "nle", ">" }, { "ge", ">=" }, { "nl", ">=" },
        { "l", "<" }, { "nge", "<" }, { "le", "<=" }, { "ng", "<=" },
        { "a", "u>" }, { "nbe", "u>" }, { "ae", "u>=" }, { "nb", "u>=" }, { "nc", "u>=" },
        { "b", "u<" }, { "nae", "u<" }, { "c", "u<" }, { "be", "u<=" }, { "na", "u<=" },
        { "s", "< 0" }, { "ns", ">= 0" }, { "o", "OF" }, { "no", "!OF" },
        { "p", "PF" }, { "pe", "PF" }, { "np", "!PF" }, { "po", "!PF" },
    };
    auto names = [](uint64_t a) { return a == 0x2000 ? std::string("dest") : std::string(); };
    for (const auto& [suffix, rel] : rows) {
        dis::Insn i;
        i.valid = true;
        i.has_target = true;
        i.target = 0x2000;
        i.text = std::string("j") + suffix + " 0x2000";
        EXPECT_EQ(pseudo::comment(i, names), std::string("if ") + rel + ": jump to dest") << i.text;
        i.has_target = false;
        i.text = std::string("cmov") + suffix + " eax, ebx";
        EXPECT_EQ(pseudo::comment(i, names), std::string("if (") + rel + ") eax = ebx") << i.text;
        i.text = std::string("set") + suffix + " al";
        EXPECT_EQ(pseudo::comment(i, names), std::string("al = (") + rel + ")") << i.text;
    }
}

// The sixteen condition codes as the decoder spells them, short and near.
TEST(Explain, DecodedConditionalJumpsShortAndNear)
{
    const char* rel[16] = { "OF", "!OF", "u<", "u>=", "==", "!=", "u<=", "u>", "< 0", ">= 0", "PF", "!PF", "<",
        ">=", "<=", ">" };
    auto names = [](uint64_t a) { return a == 0x1000 ? std::string("top") : std::string(); };
    for (int cc = 0; cc < 16; ++cc) {
        const uint8_t short_form[] = { uint8_t(0x70 + cc), 0xFE };
        const uint8_t near_form[] = { 0x0F, uint8_t(0x80 + cc), 0xFA, 0xFF, 0xFF, 0xFF };
        for (auto [bytes, len] : { std::pair { short_form, sizeof short_form }, { near_form, sizeof near_form } }) {
            dis::Insn insn;
            dis::decode(bytes, len, 0x1000, 64, &insn, false);
            EXPECT_EQ(pseudo::comment(insn, names), std::string("if ") + rel[cc] + ": jump to top") << insn.text;
        }
    }
}

// One string reused for many explanations holds only the latest.
TEST(Explain, IntoAReusedString)
{
    std::string out = "left over";
    dis::Insn i;
    i.valid = true;
    i.text = "inc eax";
    pseudo::comment(i, {}, &out);
    EXPECT_EQ(out, "eax++");
    i.valid = false;
    pseudo::comment(i, {}, &out);
    EXPECT_EQ(out, "");
}

} // namespace
