// Explanations built from decoded instructions, through the English texts.
#include "pseudo.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

std::string explain(std::vector<uint8_t> b, int bits = 64, std::map<uint64_t, std::string> syms = {}, uint64_t addr = 0x1000)
{
    dis::Insn i;
    dis::decode(b.data(), b.size(), addr, bits, &i, false);
    EXPECT_TRUE(i.valid);
    std::function<std::string(uint64_t)> names;
    if (!syms.empty()) {
        names = [syms](uint64_t a) {
            auto it = syms.find(a);
            return it == syms.end() ? std::string() : it->second;
        };
    }
    return pseudo::comment(i, names);
}

// For rules that Zydis never reaches with the exact spelling, feed the text.
std::string explain_text(const std::string& text, int addr_bits = 64)
{
    dis::Insn i;
    i.valid = true;
    i.text = text;
    i.addr_bits = addr_bits;
    return pseudo::comment(i, {});
}

TEST(Explain, InvalidGivesNothing)
{
    dis::Insn i;
    dis::decode((const uint8_t*)"\x0F", 1, 0, 64, &i, false);
    EXPECT_EQ(pseudo::comment(i, {}), "");
}

TEST(Explain, AddressesAndNames)
{
    std::vector<uint8_t> lea { 0x48, 0x8D, 0x3D, 0x09, 0x30, 0x00, 0x00 }; // lea rdi, [rel 0x4010]
    EXPECT_EQ(explain(lea, 64, { { 0x4010, "msg" } }), "rdi = &msg");
    EXPECT_EQ(explain(lea), "rdi = 0x4010");
    EXPECT_EQ(explain(lea, 64, { { 0x4011, "other" } }), "rdi = 0x4010");
    std::vector<uint8_t> load { 0x48, 0x8B, 0x05, 0xF9, 0x0F, 0x00, 0x00 }; // mov rax, [rel 0x2000]
    EXPECT_EQ(explain(load, 64, { { 0x2000, "count" } }), "rax = [count]");
    EXPECT_EQ(explain(load), "rax = [0x2000]");
    EXPECT_EQ(explain({ 0x8B, 0x04, 0x25, 0x00, 0x10, 0x00, 0x00 }), "eax = [0x1000]");
    EXPECT_EQ(explain({ 0x48, 0x8D, 0x44, 0x8B, 0xF8 }), "rax = rbx+rcx*4-0x8");
}

TEST(Explain, Moves)
{
    EXPECT_EQ(explain({ 0xB8, 0x1F, 0, 0, 0 }), "eax = 0x1F (31)");
    EXPECT_EQ(explain({ 0xB8, 0x05, 0, 0, 0 }), "eax = 0x5");
    EXPECT_EQ(explain({ 0xB8, 0x45, 0x23, 0x01, 0 }), "eax = 0x12345");
    EXPECT_EQ(explain({ 0x48, 0x63, 0x03 }), "rax = (signed) [rbx]");
    EXPECT_EQ(explain({ 0x0F, 0xB6, 0x06 }), "eax = [rsi]");
    EXPECT_EQ(explain({ 0xC7, 0x03, 0x01, 0, 0, 0 }), "[rbx] = 0x1");
    EXPECT_EQ(explain({ 0xF2, 0x0F, 0x10, 0xC1 }), "xmm0 = xmm1");
}

TEST(Explain, Arithmetic)
{
    EXPECT_EQ(explain({ 0x31, 0xC0 }), "eax = 0");
    EXPECT_EQ(explain({ 0x48, 0x83, 0xEC, 0x10 }), "rsp -= 0x10 (16)");
    EXPECT_EQ(explain({ 0x48, 0x11, 0xD8 }), "rax += CF + rbx");
    EXPECT_EQ(explain({ 0x48, 0x19, 0xD8 }), "rax -= CF + rbx");
    EXPECT_EQ(explain({ 0xC1, 0xF8, 0x02 }), "eax >>= 0x2 (signed)");
    EXPECT_EQ(explain({ 0x48, 0xC1, 0xE0, 0x03 }), "rax <<= 0x3");
    EXPECT_EQ(explain({ 0x48, 0x0F, 0xAF, 0xC3 }), "rax *= rbx");
    EXPECT_EQ(explain({ 0x48, 0x6B, 0xC3, 0x0A }), "rax = rbx * 0xA (10)");
    EXPECT_EQ(explain({ 0x48, 0xFF, 0xC1 }), "rcx++");
    EXPECT_EQ(explain({ 0xFF, 0xC9 }), "ecx--");
    EXPECT_EQ(explain({ 0x48, 0xF7, 0xD8 }), "rax = -rax");
    EXPECT_EQ(explain({ 0x48, 0xF7, 0xD0 }), "rax = ~rax");
    EXPECT_EQ(explain({ 0xC1, 0xC0, 0x08 }), "eax = rol(eax, 0x8)");
    EXPECT_EQ(explain({ 0x48, 0x87, 0xD8 }), "rax <-> rbx");
    EXPECT_EQ(explain({ 0xF0, 0x83, 0x00, 0x01 }), "[rax] += 0x1");
}

TEST(Explain, MultiplyAndDivide)
{
    EXPECT_EQ(explain({ 0xF7, 0x33 }), "eax = edx:eax / [rbx], edx = %");
    EXPECT_EQ(explain({ 0xF6, 0xF3 }), "al = ax / bl, ah = %");
    EXPECT_EQ(explain({ 0xF7, 0xE9 }), "edx:eax = eax * ecx (signed)");
    EXPECT_EQ(explain({ 0x66, 0xF7, 0xE3 }), "dx:ax = ax * bx");
    EXPECT_EQ(explain({ 0x49, 0xF7, 0xF8 }), "rax = rdx:rax / r8 (signed), rdx = %");
    EXPECT_EQ(explain({ 0x41, 0xF7, 0xF0 }), "eax = edx:eax / r8d, edx = %");
    EXPECT_EQ(explain({ 0x48, 0x99 }), "rdx:rax = (signed) rax");
    EXPECT_EQ(explain({ 0x98 }), "eax = (signed) ax");
    EXPECT_EQ(explain({ 0x66, 0x98 }), "ax = (signed) al");
}

TEST(Explain, ComparesAndJumps)
{
    EXPECT_EQ(explain({ 0x48, 0x39, 0xD8 }), "compare rax with rbx");
    EXPECT_EQ(explain({ 0x48, 0x85, 0xC0 }), "is rax zero?");
    EXPECT_EQ(explain({ 0x84, 0xC3 }), "bl & al (flags only)");
    std::vector<uint8_t> je { 0x74, 0x0E };
    EXPECT_EQ(explain(je, 64, { { 0x1010, "done" } }), "if ==: jump to done");
    EXPECT_EQ(explain(je), "if ==: jump to 0x1010 (4112)");
    EXPECT_EQ(explain({ 0x0F, 0x8C, 0, 1, 0, 0 }, 64, {}, 0x10000), "if <: jump to 0x10106");
    EXPECT_EQ(explain({ 0x77, 0x00 }), "if u>: jump to 0x1002 (4098)");
    EXPECT_EQ(explain({ 0xE3, 0x00 }, 64, { { 0x1002, "empty" } }), "if rcx == 0: jump to empty");
    EXPECT_EQ(explain({ 0xE3, 0x00 }, 32, { { 0x1002, "e" } }), "if ecx == 0: jump to e");
    EXPECT_EQ(explain({ 0xE0, 0xFE }, 32, { { 0x1000, "top" } }), "if --ecx != 0 && !ZF: jump to top");
    EXPECT_EQ(explain({ 0xE1, 0xFE }, 64, { { 0x1000, "top" } }), "if --rcx != 0 && ZF: jump to top");
    EXPECT_EQ(explain({ 0xE2, 0xFE }, 16, { { 0x1000, "top" } }), "if --cx != 0: jump to top");
    EXPECT_EQ(explain({ 0xEB, 0xFE }, 64, { { 0x1000, "main" } }), "jump to main");
    EXPECT_EQ(explain({ 0xFF, 0xE0 }), "jump to rax");
    EXPECT_EQ(explain({ 0x3E, 0xFF, 0xE0 }), "jump to rax");
    EXPECT_EQ(explain({ 0x0F, 0x4F, 0xC3 }), "if (>) eax = ebx");
    EXPECT_EQ(explain({ 0x0F, 0x95, 0xC0 }), "al = (!=)");
    EXPECT_EQ(explain({ 0x0F, 0x90, 0xC0 }), "al = (OF)");
    EXPECT_EQ(explain({ 0x0F, 0x4A, 0xC3 }), "if (PF) eax = ebx");
}

TEST(Explain, CallsStackAndSystem)
{
    EXPECT_EQ(explain({ 0xE8, 0xFB, 0x0F, 0, 0 }, 64, { { 0x2000, "puts" } }), "call puts");
    EXPECT_EQ(explain({ 0xFF, 0xD0 }), "call rax");
    EXPECT_EQ(explain({ 0xC3 }), "return to the caller");
    EXPECT_EQ(explain({ 0xC2, 0x08, 0x00 }), "return to the caller");
    EXPECT_EQ(explain({ 0xCB }), "return to the caller");
    EXPECT_EQ(explain({ 0x55 }), "push rbp onto the stack");
    EXPECT_EQ(explain({ 0x5D }), "rbp = take from the stack");
    EXPECT_EQ(explain({ 0xC9 }), "remove the stack frame");
    EXPECT_EQ(explain({ 0xC8, 0x10, 0, 0 }), "build a stack frame");
    EXPECT_EQ(explain({ 0x0F, 0x05 }), "system call");
    EXPECT_EQ(explain({ 0x0F, 0x34 }, 32), "system call");
    EXPECT_EQ(explain({ 0xCD, 0x80 }, 32), "system call");
    EXPECT_EQ(explain({ 0xCD, 0x21 }, 16), "interrupt 0x21 (33)");
    EXPECT_EQ(explain({ 0xCC }), "breakpoint");
    EXPECT_EQ(explain({ 0x90 }), "do nothing");
    EXPECT_EQ(explain({ 0x0F, 0x1F, 0x44, 0, 0 }), "do nothing");
    EXPECT_EQ(explain({ 0xF3, 0x90 }), "do nothing");
    EXPECT_EQ(explain({ 0xF3, 0x0F, 0x1E, 0xFA }), "jump target marker");
    EXPECT_EQ(explain({ 0xF4 }), "stop the processor");
    EXPECT_EQ(explain({ 0x0F, 0x0B }), "invalid instruction (deliberate crash)");
    EXPECT_EQ(explain({ 0x0F, 0xA2 }), "ask the processor what it is");
    EXPECT_EQ(explain({ 0x0F, 0x31 }), "edx:eax = time stamp counter");
    EXPECT_EQ(explain({ 0xFC }), "DF = 0");
    EXPECT_EQ(explain({ 0xF5 }), "CF = !CF");
    EXPECT_EQ(explain({ 0xFB }), "IF = 1");
}

TEST(Explain, StringInstructions)
{
    EXPECT_EQ(explain({ 0xF3, 0xAA }), "rep: fill memory [rdi] with al/ax/eax/rax");
    EXPECT_EQ(explain({ 0xF3, 0xA4 }, 32), "rep: copy memory [esi] -> [edi]");
    EXPECT_EQ(explain({ 0xAC }, 16), "load [si] into al/ax/eax/rax");
    EXPECT_EQ(explain({ 0xF2, 0xAE }), "repne: compare memory");
    EXPECT_EQ(explain({ 0xF3, 0xA6 }), "repe: compare memory");
    EXPECT_EQ(explain({ 0x48, 0xA5 }), "copy memory [rsi] -> [rdi]");
    EXPECT_EQ(explain({ 0x67, 0xAD }), "load [esi] into al/ax/eax/rax");
}

TEST(Explain, OtherNamesTheInstructionSet)
{
    EXPECT_EQ(explain({ 0xC5, 0xFC, 0x58, 0xC1 }), "AVX instruction");
    EXPECT_EQ(explain({ 0x0F, 0xA3, 0xC3 }), "I386 instruction");
    EXPECT_EQ(explain_text("frobnicate rax"), "");
}

TEST(Explain, TextRules)
{
    // Operand splitting keeps commas inside brackets and an empty first operand.
    EXPECT_EQ(explain_text("cmp [rax+rbx], 0x10"), "compare [rax+rbx] with 0x10 (16)");
    EXPECT_EQ(explain_text("cmp , rbx"), "compare  with rbx");
    EXPECT_EQ(explain_text("mov rax, [abs qword 0x1122334455667788]"), "rax = [0x1122334455667788]");
    EXPECT_EQ(explain_text("mov eax, [abs 0x10]"), "eax = [0x10]");
    EXPECT_EQ(explain_text("mov xmm0, xmmword [rax]"), "xmm0 = [rax]");
    EXPECT_EQ(explain_text("jcxz 0x10"), "if cx == 0: jump to 0x10 (16)");
    EXPECT_EQ(explain_text("lodsb", 32), "load [esi] into al/ax/eax/rax");
    EXPECT_EQ(explain_text("jxyz 0x10"), "");
    EXPECT_EQ(explain_text("notrack jmp rax"), "jump to rax");
}

} // namespace
