// Decoding into NASM text: each rewriting step on byte vectors, operand
// records and flow facts, and a round trip through the real NASM.
#include "disasm.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

using namespace testutil;

namespace {

dis::Insn dec(std::vector<uint8_t> b, int bits = 64, uint64_t addr = 0x1000, bool ops = false)
{
    dis::Insn i;
    dis::decode(b.data(), b.size(), addr, bits, &i, ops);
    return i;
}

std::string text(std::vector<uint8_t> b, int bits = 64)
{
    return dec(std::move(b), bits).text;
}

TEST(Decode, BasicRecord)
{
    dis::Insn nop = dec({ 0x90 });
    EXPECT_TRUE(nop.valid);
    EXPECT_EQ(nop.len, 1);
    EXPECT_EQ(nop.text, "nop");
    EXPECT_EQ(nop.addr, 0x1000u);
    EXPECT_EQ(nop.bytes[0], 0x90);
    EXPECT_EQ(nop.bytes[1], 0);

    dis::Insn bad = dec({ 0x0F });
    EXPECT_FALSE(bad.valid);
    EXPECT_EQ(bad.len, 1);
    EXPECT_EQ(bad.text, "db 0x0F");
    EXPECT_EQ(bad.bytes[0], 0x0F);

    // A truncated instruction is undecodable, not read past its end.
    dis::Insn cut = dec({ 0xB8, 0x01, 0x02 });
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

TEST(Decode, BytesCopiedOnlyForInstructionLength)
{
    dis::Insn i = dec({ 0x48, 0x89, 0xD8, 0xCC, 0xCC });
    EXPECT_EQ(i.text, "mov rax, rbx");
    ASSERT_EQ(i.len, 3);
    EXPECT_EQ(i.bytes[2], 0xD8);
    EXPECT_EQ(i.bytes[3], 0);
}

TEST(Decode, RipRelative)
{
    dis::Insn i = dec({ 0x48, 0x8B, 0x05, 0xF9, 0x0F, 0x00, 0x00 });
    EXPECT_EQ(i.text, "mov rax, [rel 0x2000]");
    EXPECT_TRUE(i.has_mem);
    EXPECT_EQ(i.mem, 0x2000u);
    // Negative displacement and a size word together.
    dis::Insn j = dec({ 0x48, 0x83, 0x05, 0xF0, 0xFF, 0xFF, 0xFF, 0x05 });
    EXPECT_EQ(j.text, "add qword [rel 0xFF8], 0x5");
    EXPECT_EQ(j.mem, 0xFF8u);
}

TEST(Decode, AbsoluteAddresses)
{
    EXPECT_EQ(text({ 0x8B, 0x04, 0x25, 0x00, 0x10, 0x00, 0x00 }), "mov eax, [abs 0x1000]");
    // The stack protector's load keeps its segment and gets no "abs".
    EXPECT_EQ(text({ 0x64, 0x48, 0x8B, 0x04, 0x25, 0x28, 0, 0, 0 }), "mov rax, [fs:0x28]");
    EXPECT_EQ(text({ 0x48, 0xA1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11 }),
        "mov rax, [abs qword 0x1122334455667788]");
    EXPECT_EQ(text({ 0x67, 0xA1, 0x00, 0x10, 0x00, 0x00 }), "mov eax, [abs dword 0x1000]");
    // 32- and 16-bit code name the address width only when it differs.
    EXPECT_EQ(text({ 0xA1, 0x00, 0x10, 0x00, 0x00 }, 32), "mov eax, [0x1000]");
    EXPECT_EQ(text({ 0x67, 0xA1, 0x34, 0x12 }, 32), "mov eax, [word 0x1234]");
    EXPECT_EQ(text({ 0x67, 0xA1, 0x34, 0x12, 0, 0 }, 16), "mov ax, [dword 0x1234]");
}

TEST(Decode, PtrRemovedAndSegmentsMovedInside)
{
    EXPECT_EQ(text({ 0x48, 0xFF, 0x48, 0x08 }), "dec qword [rax+0x8]");
    EXPECT_EQ(text({ 0x26, 0x66, 0x67, 0x8B, 0x05 }, 32), "mov ax, [es:di]");
    EXPECT_EQ(text({ 0x36, 0x89, 0x45, 0xFC }, 32), "mov [ss:ebp-0x4], eax");
    EXPECT_EQ(text({ 0x65, 0x8B, 0x43, 0x08 }), "mov eax, [gs:rbx+0x8]");
}

TEST(Decode, SizeWords)
{
    EXPECT_EQ(text({ 0x89, 0x03 }), "mov [rbx], eax");
    EXPECT_EQ(text({ 0xC7, 0x03, 0x01, 0, 0, 0 }), "mov dword [rbx], 0x1");
    EXPECT_EQ(text({ 0x0F, 0xB6, 0x06 }), "movzx eax, byte [rsi]");
    // The register is wider than the access, so the access must be named.
    EXPECT_EQ(text({ 0xF2, 0x48, 0x0F, 0x2A, 0x03 }), "cvtsi2sd xmm0, qword [rbx]");
    EXPECT_EQ(text({ 0xF2, 0x0F, 0x2A, 0x03 }), "cvtsi2sd xmm0, dword [rbx]");
    EXPECT_EQ(text({ 0x0F, 0x28, 0x00 }), "movaps xmm0, [rax]");
    EXPECT_EQ(text({ 0x66, 0x0F, 0x6F, 0x06 }), "movdqa xmm0, [rsi]");
    EXPECT_EQ(text({ 0xDB, 0x2B }), "fld tword [rbx]");
    EXPECT_EQ(text({ 0xDF, 0x23 }), "fbld tword [rbx]");
    EXPECT_EQ(text({ 0x62, 0xF1, 0xFE, 0x48, 0x6F, 0x07 }), "vmovdqu64 zmm0, zword [rdi]");
    EXPECT_EQ(text({ 0xC4, 0xE2, 0x7D, 0x58, 0x03 }), "vpbroadcastd ymm0, dword [rbx]");
    EXPECT_EQ(text({ 0x48, 0x0F, 0xC7, 0x0F }), "cmpxchg16b oword [rdi]");
    EXPECT_EQ(text({ 0xF6, 0x23 }), "mul byte [rbx]");
    // The far indirect forms keep NASM's own "far" and take no size word.
    EXPECT_EQ(text({ 0xFF, 0x2B }, 32), "jmp far [ebx]");
}

TEST(Decode, FarPointerLoads)
{
    EXPECT_EQ(text({ 0xC5, 0x03 }, 32), "lds eax, [ebx]");
    EXPECT_EQ(text({ 0x66, 0xC4, 0x3F }, 16), "les edi, [bx]");
    EXPECT_EQ(text({ 0x48, 0x0F, 0xB2, 0x23 }), "lss rsp, [rbx]");
}

TEST(Decode, IndexWithoutBaseIsNotSplit)
{
    EXPECT_EQ(text({ 0x8B, 0x04, 0x45, 0, 0, 0, 0 }), "mov eax, [nosplit rax*2]");
    EXPECT_EQ(text({ 0x8B, 0x04, 0x0D, 0x10, 0, 0, 0 }), "mov eax, [nosplit rcx*1+0x10]");
    EXPECT_EQ(text({ 0x8B, 0x04, 0x8D, 0, 0, 0, 0 }), "mov eax, [rcx*4]");
}

TEST(Decode, ScaleOneDropped)
{
    EXPECT_EQ(text({ 0x48, 0x8D, 0x04, 0x0B }), "lea rax, [rbx+rcx]");
    EXPECT_EQ(text({ 0x48, 0x8D, 0x44, 0x0B, 0x08 }), "lea rax, [rbx+rcx+0x8]");
    EXPECT_EQ(text({ 0x48, 0x8D, 0x44, 0x8B, 0xF8 }), "lea rax, [rbx+rcx*4-0x8]");
}

TEST(Decode, MultiByteNop)
{
    EXPECT_EQ(text({ 0x0F, 0x1F, 0x44, 0x00, 0x00 }), "nop dword [rax+rax]");
    EXPECT_EQ(text({ 0x66, 0x0F, 0x1F, 0x44, 0x00, 0x00 }), "nop word [rax+rax]");
    EXPECT_EQ(text({ 0x0F, 0x1F, 0x00 }), "nop dword [rax]");
}

TEST(Decode, MnemonicRenames)
{
    EXPECT_EQ(text({ 0x66, 0x60 }, 32), "pushaw");
    EXPECT_EQ(text({ 0x66, 0x61 }, 32), "popaw");
    EXPECT_EQ(text({ 0x66, 0x9C }, 32), "pushfw");
    EXPECT_EQ(text({ 0x60 }, 16), "pusha");
    EXPECT_EQ(text({ 0xCF }, 16), "iret");
    EXPECT_EQ(text({ 0x66, 0xCF }, 32), "iretw");
    EXPECT_EQ(text({ 0x66, 0xCF }, 64), "iretw");
    EXPECT_EQ(text({ 0xDB, 0xE1 }, 32), "fndisi");
    EXPECT_EQ(text({ 0xDB, 0xE0 }, 32), "fneni");
    EXPECT_EQ(text({ 0xDB, 0xE4 }, 32), "fsetpm");
    EXPECT_EQ(text({ 0xCB }), "retf");
    EXPECT_EQ(text({ 0xCA, 0x10, 0x00 }), "retf 0x10");
}

TEST(Decode, FarPointersInNasmSyntax)
{
    EXPECT_EQ(text({ 0x9A, 0x00, 0x00, 0x00, 0xF0 }, 16), "call 0xF000:0x0000");
    EXPECT_EQ(text({ 0x66, 0x9A, 0x78, 0x56, 0x00, 0x00, 0x34, 0x12 }, 16), "call dword 0x1234:0x00005678");
    EXPECT_EQ(text({ 0x66, 0xEA, 0x78, 0x56, 0x34, 0x12 }, 32), "jmp word 0x1234:0x5678");
    EXPECT_EQ(text({ 0xEA, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12 }, 32), "jmp 0x1234:0x56789ABC");
}

TEST(Decode, NotrackWrittenAsSegmentPrefix)
{
    EXPECT_EQ(text({ 0x3E, 0xFF, 0xE0 }), "ds jmp rax");
    EXPECT_EQ(text({ 0xF2, 0xFF, 0xE0 }), "bnd jmp rax");
}

TEST(Decode, FlowFacts)
{
    dis::Insn call = dec({ 0xE8, 0xFB, 0x0F, 0x00, 0x00 });
    EXPECT_TRUE(call.is_call);
    EXPECT_FALSE(call.is_jump);
    EXPECT_TRUE(call.has_target);
    EXPECT_EQ(call.target, 0x2000u);
    EXPECT_EQ(call.text, "call 0x2000");

    dis::Insn ind = dec({ 0xFF, 0xD0 });
    EXPECT_TRUE(ind.is_call);
    EXPECT_FALSE(ind.has_target);

    dis::Insn ripcall = dec({ 0xFF, 0x15, 0x10, 0, 0, 0 });
    EXPECT_TRUE(ripcall.is_call);
    EXPECT_FALSE(ripcall.has_target);
    EXPECT_TRUE(ripcall.has_mem);
    EXPECT_EQ(ripcall.mem, 0x1016u);

    dis::Insn ret = dec({ 0xC3 });
    EXPECT_TRUE(ret.is_ret);
    EXPECT_FALSE(ret.is_call || ret.is_jump || ret.has_target);

    dis::Insn jz = dec({ 0x74, 0xFE });
    EXPECT_TRUE(jz.is_jump);
    EXPECT_EQ(jz.target, 0x1000u);

    dis::Insn back = dec({ 0xEB, 0xFE }, 16, 0x100);
    EXPECT_TRUE(back.is_jump && back.has_target);
    EXPECT_EQ(back.target, 0x100u);

    dis::Insn farcall = dec({ 0x9A, 0x00, 0x00, 0x00, 0xF0 }, 16);
    EXPECT_TRUE(farcall.is_call);
    EXPECT_FALSE(farcall.has_target);

    EXPECT_EQ(dec({ 0x67, 0xE3, 0xFD }, 32).addr_bits, 16);
    EXPECT_EQ(dec({ 0x90 }, 32).addr_bits, 32);
    EXPECT_FALSE(dec({ 0xC5, 0xFC, 0x58, 0xC1 }).isa.empty());
}

TEST(Decode, UnknownWidthMeans64)
{
    EXPECT_EQ(text({ 0x48, 0x89, 0xD8 }, 7), "mov rax, rbx");
}

TEST(Operands, RegistersWidenedInTheirMode)
{
    dis::Insn i = dec({ 0x88, 0xE0 }, 64, 0x1000, true); // mov al, ah
    ASSERT_GE(i.ops.size(), 2u);
    EXPECT_EQ(i.ops[0].kind, dis::Operand::Reg);
    EXPECT_EQ(i.ops[0].reg, "al");
    EXPECT_EQ(i.ops[0].reg64, "rax");
    EXPECT_TRUE(i.ops[0].write);
    EXPECT_FALSE(i.ops[0].read);
    EXPECT_EQ(i.ops[1].reg, "ah");
    EXPECT_EQ(i.ops[1].shift, 8);
    EXPECT_EQ(i.ops[1].size, 1);

    dis::Insn j = dec({ 0x88, 0xE0 }, 32, 0x1000, true);
    EXPECT_EQ(j.ops[0].reg64, "eax");

    // Registers without a wider form stand for themselves.
    dis::Insn seg = dec({ 0x8E, 0xC0 }, 64, 0, true); // mov es, ax
    EXPECT_EQ(seg.ops[0].reg64, "es");
    dis::Insn cr = dec({ 0x0F, 0x20, 0xC0 }, 64, 0, true); // mov rax, cr0
    EXPECT_EQ(cr.ops[1].reg64, "cr0");
}

TEST(Operands, MemoryRecords)
{
    dis::Insn i = dec({ 0x43, 0x8B, 0x84, 0xEC, 0x00, 0x01, 0x00, 0x00 }, 64, 0, true);
    ASSERT_EQ(i.text, "mov eax, [r12+r13*8+0x100]");
    ASSERT_GE(i.ops.size(), 2u);
    const dis::Operand& m = i.ops[1];
    EXPECT_EQ(m.kind, dis::Operand::Mem);
    EXPECT_EQ(m.base, "r12");
    EXPECT_EQ(m.index, "r13");
    EXPECT_EQ(m.scale, 8);
    EXPECT_EQ(m.disp, 0x100);
    EXPECT_EQ(m.size, 4);
    EXPECT_TRUE(m.read);
    EXPECT_TRUE(m.visible);

    dis::Insn r = dec({ 0x48, 0x8B, 0x05, 0xF9, 0x0F, 0x00, 0x00 }, 64, 0x1000, true);
    EXPECT_EQ(r.ops[1].base, "rip");
    EXPECT_TRUE(r.ops[1].rip);
    EXPECT_EQ(r.ops[1].abs, 0x2000u);
    EXPECT_EQ(r.ops[1].scale, 1);

    dis::Insn fs = dec({ 0x64, 0x48, 0x8B, 0x04, 0x25, 0x28, 0, 0, 0 }, 64, 0, true);
    EXPECT_EQ(fs.ops[1].seg, "fs");
    EXPECT_TRUE(fs.ops[1].base.empty());
    EXPECT_EQ(fs.ops[1].disp, 0x28);

    dis::Insn neg = dec({ 0x8B, 0x45, 0xF8 }, 32, 0, true);
    EXPECT_EQ(neg.ops[1].base, "ebp");
    EXPECT_EQ(neg.ops[1].disp, -8);
}

TEST(Operands, HiddenOperandsAndFlags)
{
    // push rbx: rsp and the stack slot are hidden; no flags record anywhere.
    dis::Insn p = dec({ 0x53 }, 64, 0, true);
    ASSERT_FALSE(p.ops.empty());
    EXPECT_TRUE(p.ops[0].visible);
    bool hidden = false;
    for (const auto& o : p.ops)
        hidden |= !o.visible;
    EXPECT_TRUE(hidden);

    dis::Insn add = dec({ 0x48, 0x01, 0xD8 }, 64, 0, true); // add rax, rbx
    for (const auto& o : add.ops)
        EXPECT_TRUE(o.reg != "rflags" && o.reg != "eflags" && o.reg != "flags") << o.reg;
    ASSERT_EQ(add.ops.size(), 2u);
    EXPECT_TRUE(add.ops[0].read && add.ops[0].write);

    dis::Insn imm = dec({ 0xB8, 0x01, 0, 0, 0 }, 64, 0, true);
    ASSERT_EQ(imm.ops.size(), 2u);
    EXPECT_EQ(imm.ops[1].kind, dis::Operand::Imm);
    EXPECT_EQ(imm.ops[1].size, 4);

    EXPECT_TRUE(dec({ 0x48, 0x01, 0xD8 }).ops.empty());
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
    dis::Insn i = dec({ 0x48, 0x8B, 0x05, 0xF9, 0x0F, 0x00, 0x00 });
    EXPECT_EQ(dis::hex_bytes(i, 15), "488B05F90F0000");
    EXPECT_EQ(dis::hex_bytes(i, 7), "488B05F90F0000");
    EXPECT_EQ(dis::hex_bytes(i, 6), "488B05F90F00\u2026");
    EXPECT_EQ(dis::hex_bytes(i, 0), "\u2026");
    EXPECT_EQ(dis::hex_bytes(dec({ 0xab }), 10), "AB");
}

TEST(AsmText, RipRelativeNumbersBecomeDollarRelative)
{
    EXPECT_EQ(dis::asm_text(dec({ 0x48, 0x8B, 0x05, 0xF9, 0x0F, 0x00, 0x00 })), "mov rax, [rel $+0x1000]");
    EXPECT_EQ(dis::asm_text(dec({ 0x48, 0x8D, 0x05, 0xF0, 0xFF, 0xFF, 0xFF })), "lea rax, [rel $-0x9]");
    EXPECT_EQ(dis::asm_text(dec({ 0x48, 0x89, 0xD8 })), "mov rax, rbx");
    EXPECT_EQ(dis::asm_text(dec({ 0xEB, 0xFE })), "jmp short $+0x0");
    EXPECT_EQ(dis::asm_text(dec({ 0x0F, 0x84, 0x00, 0x01, 0x00, 0x00 })), "jz near $+0x106");
    EXPECT_EQ(dis::asm_text(dec({ 0x3E, 0x74, 0x10 })), "jz short $+0x13");
    EXPECT_EQ(dis::asm_text(dec({ 0xE8, 0xF0, 0xFF, 0xFF, 0xFF })), "call $-0xB");
    EXPECT_EQ(dis::asm_text(dec({ 0xE2, 0xFE })), "loop $+0x0");
    EXPECT_EQ(dis::asm_text(dec({ 0xF2, 0xE9, 0, 0, 0, 0 })), "bnd jmp near $+0x6");
}

// Bytes -> text -> NASM -> the same bytes. The corpus is assembled by NASM
// first, so every encoding in it is one NASM itself chooses.
struct Exception {
    const char* hex;
    const char* why;
};

void round_trip(int bits, uint64_t org, const std::string& corpus, const std::vector<Exception>& exceptions)
{
    TempDir dir;
    char head[64];
    snprintf(head, sizeof head, "bits %d\norg 0x%llx\n", bits, static_cast<unsigned long long>(org));
    std::string err = nasm_build(head + corpus, dir.file("orig.bin"), "bin");
    ASSERT_EQ(err, "");
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
        if (exception) {
            used.insert(hex);
            again += "db ";
            for (int k = 0; k < i.len; ++k)
                again += (k ? ", 0x" : "0x") + hex.substr(2 * k, 2);
            again += "\n";
        } else {
            again += dis::asm_text(i) + "\n";
        }
    }
    err = nasm_build(again, dir.file("again.bin"), "bin");
    ASSERT_EQ(err, "") << again;
    std::string back = read_file(dir.file("again.bin"));
    for (const dis::Insn& i : insns) {
        size_t off = i.addr - org;
        std::string want = orig.substr(off, i.len), got = back.substr(std::min(off, back.size()), i.len);
        if (want != got) {
            ADD_FAILURE() << "first difference at 0x" << std::hex << i.addr << ": " << i.text << " (" << dis::hex_bytes(i, 15) << ")";
            break;
        }
    }
    EXPECT_EQ(back.size(), orig.size());
    for (const Exception& e : exceptions)
        EXPECT_TRUE(used.count(e.hex)) << "exception no longer met: " << e.hex << " " << e.why;
}

const char* const kCorpus64 = R"(start:
    mov rax, [rel data]
    lea rdi, [rel data]
    mov [rel data], ecx
    add qword [rel data], 5
    cmp byte [rel data+3], 0x7f
    mov rax, [fs:0x28]
    mov eax, [gs:rbx+8]
    mov rax, [abs 0x1000]
    mov eax, [abs 0x7fffffff]
    mov rax, [abs qword 0x1122334455667788]
    mov al, [abs qword 0x1122334455667788]
    mov eax, [nosplit rax*2]
    mov eax, [nosplit rcx*1+0x10]
    lea rax, [rbx+rcx]
    lea rax, [rbx+rcx*1+8]
    lea rax, [rbx+rcx*4-8]
    mov eax, [r12+r13*8+0x100]
    mov [rbx], eax
    mov dword [rbx], 1
    mov byte [rbx], 1
    mov word [rbx], 1
    mov qword [rbx], -1
    movzx eax, byte [rsi]
    movzx eax, word [rsi]
    movsx rax, word [rbx]
    movsxd rax, dword [rbx]
    movsx eax, cl
    inc dword [rax]
    dec qword [rax+8]
    neg byte [rdx]
    not word [rdx]
    push qword [rbp-8]
    pop qword [rbp-8]
    push 0x12345678
    push rbx
    pop r15
    call near_target
    call rax
    call [rax+8]
    call qword [rel data]
    jmp near_target
    jmp rax
    jmp [rax]
    notrack_jmp: db 0x3e, 0xff, 0xe0
    bnd jmp rax
    je near_target
    jne start
loops:
    jrcxz loops
    loop loops
    loope loops
    loopne near_target
near_target:
    ret
    ret 8
    retf
    retf 16
    o64 retf
    iretq
    iret
    iretd
    leave
    enter 0x20, 0
    syscall
    int 0x80
    int3
    hlt
    ud2
    cpuid
    rdtsc
    rdtscp
    pause
    endbr64
    nop
    nop dword [rax]
    nop dword [rax+rax+0]
    nop word [rax+rax+0]
    db 0x66, 0x2e, 0x0f, 0x1f, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00
    xchg rax, rbx
    xchg [rbx], ecx
    lock add [rax], ebx
    lock cmpxchg [rdi], rcx
    lock xadd [rdi], eax
    rep movsb
    rep stosq
    repne scasb
    repe cmpsb
    lodsb
    movsd
    cmpsw
    stosb
    cqo
    cdq
    cdqe
    cwde
    cbw
    cwd
    imul rax, rbx, 10
    imul eax, [rbx], 100
    imul rcx
    mul byte [rbx]
    div dword [rbx]
    idiv r8
    shl rax, 3
    shr dword [rax], cl
    sar rax, 1
    rol eax, 8
    ror byte [rbx], 1
    rcl rdx, 1
    shld rdx, rax, 4
    bt rax, 5
    bts dword [rax], 3
    bsf rcx, rax
    popcnt rax, rbx
    lzcnt eax, [rbx]
    tzcnt r9, r10
    cmovg eax, ebx
    cmovne rax, [rbx]
    setne al
    sete byte [rbx]
    test rax, rax
    test byte [rbx], 1
    and eax, 0xff
    or al, 0x20
    xor eax, eax
    sub rsp, 0x10
    adc rdx, 0
    sbb eax, [rbx]
    add ax, 1
    add r8w, [r9]
    mov ah, [rbx]
    mov sil, dil
    mov rax, qword 0x1122334455667788
    mov rax, 0x11223344
    mov eax, 1
    mov es, ax
    mov ax, ds
    mov [rbx], ds
    mov rax, cr0
    mov dr7, rax
    clc
    stc
    cmc
    cld
    std
    cli
    sti
    lahf
    sahf
    pushf
    popf
    pushfq
    bswap eax
    movd xmm0, eax
    movq xmm1, rax
    movq rax, xmm0
    movq xmm2, [rbx]
    movd [rbx], xmm3
    movaps xmm0, [rax]
    movups [rax], xmm1
    movdqa xmm0, [rsi]
    movdqu xmm0, [rsi+rcx*1]
    movss xmm0, [rbx]
    movsd xmm0, [rel data]
    movsd [rbx], xmm1
    addsd xmm0, xmm1
    subsd xmm0, [rbx]
    mulps xmm0, [rbx]
    divss xmm0, xmm1
    sqrtsd xmm0, xmm0
    maxsd xmm0, xmm1
    cvtsi2sd xmm0, rax
    cvtsi2sd xmm0, qword [rbx]
    cvtsi2sd xmm0, dword [rbx]
    cvtsi2ss xmm1, qword [rbx]
    cvttsd2si rax, xmm0
    cvtss2sd xmm0, [rbx]
    ucomisd xmm0, xmm1
    xorps xmm0, xmm0
    andpd xmm0, [rel data]
    paddd xmm0, xmm1
    pcmpeqb xmm0, [rdi]
    pmovmskb eax, xmm0
    pshufd xmm0, xmm1, 0x1b
    pinsrw xmm0, word [rbx], 1
    pinsrb xmm0, byte [rbx], 1
    pextrw eax, xmm0, 2
    vaddps ymm0, ymm1, ymm2
    vaddps ymm0, ymm1, [rbx]
    vmovdqu ymm0, [rdi]
    vmovdqu [rdi], ymm1
    vpbroadcastd ymm0, dword [rbx]
    vaddps zmm0, zmm1, zmm2
    vmovdqu64 zmm0, [rdi]
    vpxor xmm0, xmm0, xmm0
    vzeroupper
    vgatherdps ymm0, [rax+ymm1*4], ymm2
    vfmadd231sd xmm0, xmm1, [rbx]
    fld qword [rbx]
    fld dword [rbx]
    fld tword [rbx]
    fstp tword [rbx]
    fild word [rbx]
    fild qword [rbx]
    fistp dword [rbx]
    fadd st0, st1
    faddp st1, st0
    fmul qword [rbx]
    fxch st1
    fldcw [rbx]
    fnstcw [rbx]
    fnstsw ax
    fnstenv [rbx]
    fldenv [rbx]
    fxsave [rbx]
    fxrstor [rbx]
    fbld [rbx]
    fnop
    fninit
    fsqrt
    lgdt [rbx]
    sidt [rbx]
    lss rsp, [rbx]
    lfs eax, [rbx]
    lgs rax, [rbx]
    prefetcht0 [rbx]
    clflush [rbx]
    bndmk bnd0, [rax]
    movbe eax, [rbx]
    crc32 eax, byte [rbx]
    crc32 rax, qword [rbx]
    xlatb
    in al, dx
    out 0x80, al
    insb
    outsd
    cmpxchg16b [rdi]
    rdrand eax
    xgetbv
    mfence
    lfence
    sfence
data:
    dq 0
)";

const char* const kCorpus32 = R"(start:
    mov eax, [data]
    mov eax, [ebx+ecx*4+8]
    mov eax, [nosplit ecx*2]
    mov eax, [nosplit ecx+0x10]
    lea eax, [ebx+ecx]
    mov [ebx], ax
    mov dword [ebx], 1
    mov eax, [word 0x1234]
    mov eax, [bx+si]
    mov ax, [es:di]
    mov eax, [fs:0]
    mov eax, [gs:0x14]
    mov [ss:ebp-4], eax
    mov eax, [cs:ebx]
    push dword [ebp+8]
    push word 5
    push 0x10
    pusha
    popa
    pushaw
    popaw
    pushf
    popf
    pushfw
    popfw
    iret
    iretw
    call 0x1234:0x56789abc
    call word 0x1234:0x5678
    jmp 0x1234:0x56789abc
    jmp word 0x1234:0x5678
    call far [ebx]
    jmp far [ebx]
    call word far [ebx]
    lds eax, [ebx]
    les ax, [ebx]
    lss esp, [ebx]
    call start
    jmp start
near1:
    jcxz near1
    jecxz near1
    loop near1
    loopne near1
    int 0x80
    sysenter
    rep movsd
    rep movsw
    lodsd
    into
    aaa
    aas
    daa
    das
    aam
    aad
    bound eax, [ebx]
    arpl [ebx], ax
    salc
    inc eax
    dec cx
    xchg eax, ecx
    mov al, [0x12345678]
    mov [0x12345678], eax
    movzx eax, byte [esi]
    fld tword [ebx]
    fild dword [ebx]
    fdisi
    feni
    fsetpm
    fnclex
    enter 8, 0
    leave
    ret
    retf
    retf 4
    sgdt [ebx]
    lidt [eax]
    cvtsi2sd xmm0, dword [ebx]
    movaps xmm1, [ebx]
    movq mm0, [ebx]
    paddb mm0, mm1
    emms
    smsw [ebx]
    str eax
    lar eax, [ebx]
    push cs
    push ds
    pop es
    push fs
    pop gs
    nop dword [eax+eax+0]
data:
    dd 0
)";

const char* const kCorpus16 = R"(start:
    mov ax, [bx+si]
    mov ax, [bp+di+4]
    mov ax, [0x1234]
    mov ax, [es:0x10]
    mov byte [bx], 1
    mov word [bx], 1
    mov eax, [ebx]
    mov eax, [ebx+ecx*4]
    mov ax, [dword 0x1234]
    mov ax, [nosplit ecx*2]
    mov [bx], al
    mov ax, 0x4c00
    int 0x21
    int 0x10
    call start
    call 0x1234:0x5678
    call dword 0x1234:0x5678
    jmp 0xf000:0xfff0
    jmp dword 0xf000:0xfff0
    call far [bx]
    jmp far [bx]
    call dword far [bx]
    lds si, [bx]
    les di, [bx]
    les edi, [bx]
    jmp start
    jcxz start
    jecxz start
    loop start
    pusha
    popa
    pushad
    popad
    pushf
    popf
    pushfd
    iret
    iretd
    retf
    ret
    rep movsb
    rep stosw
    lodsb
    movsd
    xlatb
    in al, 0x60
    out dx, al
    cli
    hlt
    push es
    pop ds
    push cs
    lea si, [bx+di+2]
    lea esi, [ebx+4]
    shl ax, 1
    shl ax, 4
    fld tword [bx]
    fld qword [bx]
    lgdt [bx]
    lidt [bx]
    nop
data:
    dw 0
)";


TEST(Listing, StopsAfter20000InstructionsPerRange)
{
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("nops.bin"), std::string(20005, '\x90')));
    RunResult r = run_exe({ "--disasm", dir.file("nops.bin"), "32" });
    ASSERT_EQ(r.code, 0) << r.err;
    size_t lines = 0;
    for (size_t p = r.out.find("  nop"); p != std::string::npos; p = r.out.find("  nop", p + 1))
        ++lines;
    EXPECT_EQ(lines, 20000u);
    EXPECT_NE(r.out.find("RAW, 32 bit, entry 0, 20005 bytes"), std::string::npos);
    EXPECT_NE(r.out.find("  00004e1f  90"), std::string::npos);
    EXPECT_EQ(r.out.find("  00004e20  90"), std::string::npos);
}

TEST(RoundTrip, Code64)
{
    round_trip(64, 0x401000, kCorpus64, {
        { "48CB", "Zydis writes retf without its REX.W (o64 retf)" },
        { "662E0F1F840000000000", "the padding nop's cs prefix and long displacement have no NASM spelling" },
        { "0FAE3B", "the 512-bit access of clflush becomes zword, which NASM refuses" },
        { "F2480F38F103", "crc32 with a 64-bit memory source needs qword, which no rule adds" },
    });
}

TEST(RoundTrip, Code32)
{
    round_trip(32, 0x8048000, kCorpus32, {
        { "66FF1B", "the operand size of an indirect far call is lost behind \"far\"" },
        { "666A05", "Zydis writes push word 5 without its size" },
        { "6203", "bound gets qword for its pair of bounds, which NASM refuses" },
    });
}

TEST(RoundTrip, Code16)
{
    round_trip(16, 0x100, kCorpus16, {
        { "66FF1F", "the operand size of an indirect far call is lost behind \"far\"" },
    });
}

} // namespace
