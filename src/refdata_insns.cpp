// The reference's instruction table: one row per instruction entry, in the
// order the reference lists them. Every mnemonic named here is also a word
// that disassembled source must not use as a symbol name.
//
// Operand forms: r8..r64 a register, m8..m128 memory of that width, m any
// memory, r/m either, imm8..imm64 a number, label a jump target, xmm an SSE
// register. Groups run from the narrowest to the widest operands and are
// separated by one empty line.
#include "refdata.h"

namespace refdata {

const Insn kInsns[kInsnCount] = {

    // data
    {
        "mov", "data", "mov", "", "", "",
        "mov rax, 60\n"
        "mov ebx, [rel count]\n"
        "mov byte [rdi], 'A'",
        "mov r/m8, imm8\n"
        "mov r8, r/m8\n"
        "mov m8, r8\n"
        "\n"
        "mov r/m16, imm16\n"
        "mov r16, r/m16\n"
        "mov m16, r16\n"
        "\n"
        "mov r/m32, imm32\n"
        "mov r32, r/m32\n"
        "mov m32, r32\n"
        "\n"
        "mov r64, r/m64\n"
        "mov r64, imm64\n"
        "mov m64, r64\n"
        "mov m64, imm32",
        "mov r/m8, imm8\n"
        "mov r8, r/m8\n"
        "mov m8, r8\n"
        "\n"
        "mov r/m16, imm16\n"
        "mov r16, r/m16\n"
        "mov m16, r16\n"
        "\n"
        "mov r/m32, imm32\n"
        "mov r32, r/m32\n"
        "mov m32, r32",
    },
    {
        "movzx", "data", "movzx", "", "", "",
        "movzx eax, byte [rsi]",
        "movzx r16, r/m8\n"
        "\n"
        "movzx r32, r/m8\n"
        "movzx r32, r/m16\n"
        "\n"
        "movzx r64, r/m8\n"
        "movzx r64, r/m16",
        "movzx r16, r/m8\n"
        "\n"
        "movzx r32, r/m8\n"
        "movzx r32, r/m16",
    },
    {
        "movsx", "data", "movsx", "", "", "",
        "movsx rax, word [rbx]",
        "movsx r16, r/m8\n"
        "\n"
        "movsx r32, r/m8\n"
        "movsx r32, r/m16\n"
        "\n"
        "movsx r64, r/m8\n"
        "movsx r64, r/m16",
        "movsx r16, r/m8\n"
        "\n"
        "movsx r32, r/m8\n"
        "movsx r32, r/m16",
    },
    {
        "movsxd", "data", "movsxd", "", "", "",
        "movsxd rax, dword [rbx]",
        "movsxd r64, r/m32",
        "",
    },
    {
        "lea", "data", "lea", "", "", "",
        "lea rsi, [rel msg]\n"
        "lea rax, [rbx + rcx*4 + 8]",
        "lea r16, m\n"
        "\n"
        "lea r32, m\n"
        "\n"
        "lea r64, m",
        "lea r16, m\n"
        "\n"
        "lea r32, m",
    },
    {
        "xchg", "data", "xchg", "", "", "",
        "xchg rax, rbx",
        "xchg r/m8, r8\n"
        "xchg r8, r/m8\n"
        "\n"
        "xchg r/m16, r16\n"
        "xchg r16, r/m16\n"
        "\n"
        "xchg r/m32, r32\n"
        "xchg r32, r/m32\n"
        "\n"
        "xchg r/m64, r64\n"
        "xchg r64, r/m64",
        "xchg r/m8, r8\n"
        "xchg r8, r/m8\n"
        "\n"
        "xchg r/m16, r16\n"
        "xchg r16, r/m16\n"
        "\n"
        "xchg r/m32, r32\n"
        "xchg r32, r/m32",
    },
    {
        "cmov_e", "data", "cmove,cmovz", "cmov", "e", "",
        "cmp rax, rbx\n"
        "cmove rax, rbx",
        "cmove r16, r/m16\n"
        "\n"
        "cmove r32, r/m32\n"
        "\n"
        "cmove r64, r/m64\n"
        "\n"
        "cmovz r16, r/m16\n"
        "\n"
        "cmovz r32, r/m32\n"
        "\n"
        "cmovz r64, r/m64",
        "cmove r16, r/m16\n"
        "\n"
        "cmove r32, r/m32\n"
        "\n"
        "cmovz r16, r/m16\n"
        "\n"
        "cmovz r32, r/m32",
    },
    {
        "cmov_ne", "data", "cmovne,cmovnz", "cmov", "ne", "",
        "cmp rax, rbx\n"
        "cmovne rax, rbx",
        "cmovne r16, r/m16\n"
        "\n"
        "cmovne r32, r/m32\n"
        "\n"
        "cmovne r64, r/m64\n"
        "\n"
        "cmovnz r16, r/m16\n"
        "\n"
        "cmovnz r32, r/m32\n"
        "\n"
        "cmovnz r64, r/m64",
        "cmovne r16, r/m16\n"
        "\n"
        "cmovne r32, r/m32\n"
        "\n"
        "cmovnz r16, r/m16\n"
        "\n"
        "cmovnz r32, r/m32",
    },
    {
        "cmov_l", "data", "cmovl,cmovnge", "cmov", "l", "",
        "cmp rax, rbx\n"
        "cmovl rax, rbx",
        "cmovl r16, r/m16\n"
        "\n"
        "cmovl r32, r/m32\n"
        "\n"
        "cmovl r64, r/m64\n"
        "\n"
        "cmovnge r16, r/m16\n"
        "\n"
        "cmovnge r32, r/m32\n"
        "\n"
        "cmovnge r64, r/m64",
        "cmovl r16, r/m16\n"
        "\n"
        "cmovl r32, r/m32\n"
        "\n"
        "cmovnge r16, r/m16\n"
        "\n"
        "cmovnge r32, r/m32",
    },
    {
        "cmov_le", "data", "cmovle,cmovng", "cmov", "le", "",
        "cmp rax, rbx\n"
        "cmovle rax, rbx",
        "cmovle r16, r/m16\n"
        "\n"
        "cmovle r32, r/m32\n"
        "\n"
        "cmovle r64, r/m64\n"
        "\n"
        "cmovng r16, r/m16\n"
        "\n"
        "cmovng r32, r/m32\n"
        "\n"
        "cmovng r64, r/m64",
        "cmovle r16, r/m16\n"
        "\n"
        "cmovle r32, r/m32\n"
        "\n"
        "cmovng r16, r/m16\n"
        "\n"
        "cmovng r32, r/m32",
    },
    {
        "cmov_g", "data", "cmovg,cmovnle", "cmov", "g", "",
        "cmp rax, rbx\n"
        "cmovg rax, rbx",
        "cmovg r16, r/m16\n"
        "\n"
        "cmovg r32, r/m32\n"
        "\n"
        "cmovg r64, r/m64\n"
        "\n"
        "cmovnle r16, r/m16\n"
        "\n"
        "cmovnle r32, r/m32\n"
        "\n"
        "cmovnle r64, r/m64",
        "cmovg r16, r/m16\n"
        "\n"
        "cmovg r32, r/m32\n"
        "\n"
        "cmovnle r16, r/m16\n"
        "\n"
        "cmovnle r32, r/m32",
    },
    {
        "cmov_ge", "data", "cmovge,cmovnl", "cmov", "ge", "",
        "cmp rax, rbx\n"
        "cmovge rax, rbx",
        "cmovge r16, r/m16\n"
        "\n"
        "cmovge r32, r/m32\n"
        "\n"
        "cmovge r64, r/m64\n"
        "\n"
        "cmovnl r16, r/m16\n"
        "\n"
        "cmovnl r32, r/m32\n"
        "\n"
        "cmovnl r64, r/m64",
        "cmovge r16, r/m16\n"
        "\n"
        "cmovge r32, r/m32\n"
        "\n"
        "cmovnl r16, r/m16\n"
        "\n"
        "cmovnl r32, r/m32",
    },
    {
        "cmov_b", "data", "cmovb,cmovc,cmovnae", "cmov", "b", "",
        "cmp rax, rbx\n"
        "cmovb rax, rbx",
        "cmovb r16, r/m16\n"
        "\n"
        "cmovb r32, r/m32\n"
        "\n"
        "cmovb r64, r/m64\n"
        "\n"
        "cmovc r16, r/m16\n"
        "\n"
        "cmovc r32, r/m32\n"
        "\n"
        "cmovc r64, r/m64\n"
        "\n"
        "cmovnae r16, r/m16\n"
        "\n"
        "cmovnae r32, r/m32\n"
        "\n"
        "cmovnae r64, r/m64",
        "cmovb r16, r/m16\n"
        "\n"
        "cmovb r32, r/m32\n"
        "\n"
        "cmovc r16, r/m16\n"
        "\n"
        "cmovc r32, r/m32\n"
        "\n"
        "cmovnae r16, r/m16\n"
        "\n"
        "cmovnae r32, r/m32",
    },
    {
        "cmov_be", "data", "cmovbe,cmovna", "cmov", "be", "",
        "cmp rax, rbx\n"
        "cmovbe rax, rbx",
        "cmovbe r16, r/m16\n"
        "\n"
        "cmovbe r32, r/m32\n"
        "\n"
        "cmovbe r64, r/m64\n"
        "\n"
        "cmovna r16, r/m16\n"
        "\n"
        "cmovna r32, r/m32\n"
        "\n"
        "cmovna r64, r/m64",
        "cmovbe r16, r/m16\n"
        "\n"
        "cmovbe r32, r/m32\n"
        "\n"
        "cmovna r16, r/m16\n"
        "\n"
        "cmovna r32, r/m32",
    },
    {
        "cmov_a", "data", "cmova,cmovnbe", "cmov", "a", "",
        "cmp rax, rbx\n"
        "cmova rax, rbx",
        "cmova r16, r/m16\n"
        "\n"
        "cmova r32, r/m32\n"
        "\n"
        "cmova r64, r/m64\n"
        "\n"
        "cmovnbe r16, r/m16\n"
        "\n"
        "cmovnbe r32, r/m32\n"
        "\n"
        "cmovnbe r64, r/m64",
        "cmova r16, r/m16\n"
        "\n"
        "cmova r32, r/m32\n"
        "\n"
        "cmovnbe r16, r/m16\n"
        "\n"
        "cmovnbe r32, r/m32",
    },
    {
        "cmov_ae", "data", "cmovae,cmovnb,cmovnc", "cmov", "ae", "",
        "cmp rax, rbx\n"
        "cmovae rax, rbx",
        "cmovae r16, r/m16\n"
        "\n"
        "cmovae r32, r/m32\n"
        "\n"
        "cmovae r64, r/m64\n"
        "\n"
        "cmovnb r16, r/m16\n"
        "\n"
        "cmovnb r32, r/m32\n"
        "\n"
        "cmovnb r64, r/m64\n"
        "\n"
        "cmovnc r16, r/m16\n"
        "\n"
        "cmovnc r32, r/m32\n"
        "\n"
        "cmovnc r64, r/m64",
        "cmovae r16, r/m16\n"
        "\n"
        "cmovae r32, r/m32\n"
        "\n"
        "cmovnb r16, r/m16\n"
        "\n"
        "cmovnb r32, r/m32\n"
        "\n"
        "cmovnc r16, r/m16\n"
        "\n"
        "cmovnc r32, r/m32",
    },
    {
        "cmov_s", "data", "cmovs", "cmov", "s", "",
        "cmp rax, rbx\n"
        "cmovs rax, rbx",
        "cmovs r16, r/m16\n"
        "\n"
        "cmovs r32, r/m32\n"
        "\n"
        "cmovs r64, r/m64",
        "cmovs r16, r/m16\n"
        "\n"
        "cmovs r32, r/m32",
    },
    {
        "cmov_ns", "data", "cmovns", "cmov", "ns", "",
        "cmp rax, rbx\n"
        "cmovns rax, rbx",
        "cmovns r16, r/m16\n"
        "\n"
        "cmovns r32, r/m32\n"
        "\n"
        "cmovns r64, r/m64",
        "cmovns r16, r/m16\n"
        "\n"
        "cmovns r32, r/m32",
    },
    {
        "cmov_o", "data", "cmovo", "cmov", "o", "",
        "cmp rax, rbx\n"
        "cmovo rax, rbx",
        "cmovo r16, r/m16\n"
        "\n"
        "cmovo r32, r/m32\n"
        "\n"
        "cmovo r64, r/m64",
        "cmovo r16, r/m16\n"
        "\n"
        "cmovo r32, r/m32",
    },
    {
        "cmov_no", "data", "cmovno", "cmov", "no", "",
        "cmp rax, rbx\n"
        "cmovno rax, rbx",
        "cmovno r16, r/m16\n"
        "\n"
        "cmovno r32, r/m32\n"
        "\n"
        "cmovno r64, r/m64",
        "cmovno r16, r/m16\n"
        "\n"
        "cmovno r32, r/m32",
    },
    {
        "cmov_p", "data", "cmovp,cmovpe", "cmov", "p", "",
        "cmp rax, rbx\n"
        "cmovp rax, rbx",
        "cmovp r16, r/m16\n"
        "\n"
        "cmovp r32, r/m32\n"
        "\n"
        "cmovp r64, r/m64\n"
        "\n"
        "cmovpe r16, r/m16\n"
        "\n"
        "cmovpe r32, r/m32\n"
        "\n"
        "cmovpe r64, r/m64",
        "cmovp r16, r/m16\n"
        "\n"
        "cmovp r32, r/m32\n"
        "\n"
        "cmovpe r16, r/m16\n"
        "\n"
        "cmovpe r32, r/m32",
    },
    {
        "cmov_np", "data", "cmovnp,cmovpo", "cmov", "np", "",
        "cmp rax, rbx\n"
        "cmovnp rax, rbx",
        "cmovnp r16, r/m16\n"
        "\n"
        "cmovnp r32, r/m32\n"
        "\n"
        "cmovnp r64, r/m64\n"
        "\n"
        "cmovpo r16, r/m16\n"
        "\n"
        "cmovpo r32, r/m32\n"
        "\n"
        "cmovpo r64, r/m64",
        "cmovnp r16, r/m16\n"
        "\n"
        "cmovnp r32, r/m32\n"
        "\n"
        "cmovpo r16, r/m16\n"
        "\n"
        "cmovpo r32, r/m32",
    },
    {
        "cbw", "data", "cbw,cwde,cdqe", "", "", "",
        "mov eax, -5\n"
        "cdqe",
        "cbw\n"
        "cwde\n"
        "cdqe",
        "cbw\n"
        "cwde",
    },
    {
        "cwd", "data", "cqo,cdq,cwd", "", "", "",
        "mov rax, -100\n"
        "cqo\n"
        "idiv rbx",
        "cwd\n"
        "cdq\n"
        "cqo",
        "cwd\n"
        "cdq",
    },
    {
        "bswap", "data", "bswap", "", "", "",
        "bswap eax",
        "bswap r32\n"
        "\n"
        "bswap r64",
        "bswap r32",
    },
    {
        "xadd", "data", "xadd", "", "", "OF SF ZF AF PF CF",
        "lock xadd [rel counter], eax",
        "xadd r/m8, r8\n"
        "\n"
        "xadd r/m16, r16\n"
        "\n"
        "xadd r/m32, r32\n"
        "\n"
        "xadd r/m64, r64",
        "xadd r/m8, r8\n"
        "\n"
        "xadd r/m16, r16\n"
        "\n"
        "xadd r/m32, r32",
    },
    {
        "cmpxchg", "data", "cmpxchg", "", "", "OF SF ZF AF PF CF",
        "mov eax, 0\n"
        "mov ecx, 1\n"
        "lock cmpxchg [rel flag], ecx",
        "cmpxchg r/m8, r8\n"
        "\n"
        "cmpxchg r/m16, r16\n"
        "\n"
        "cmpxchg r/m32, r32\n"
        "\n"
        "cmpxchg r/m64, r64",
        "cmpxchg r/m8, r8\n"
        "\n"
        "cmpxchg r/m16, r16\n"
        "\n"
        "cmpxchg r/m32, r32",
    },

    // arith
    {
        "add", "arith", "add", "", "", "OF SF ZF AF PF CF",
        "add rax, rbx\n"
        "add dword [rel total], 5",
        "add r/m8, imm8\n"
        "add r/m8, r8\n"
        "add r8, r/m8\n"
        "\n"
        "add r/m16, imm16\n"
        "add r/m16, imm8\n"
        "add r/m16, r16\n"
        "add r16, r/m16\n"
        "\n"
        "add r/m32, imm32\n"
        "add r/m32, imm8\n"
        "add r/m32, r32\n"
        "add r32, r/m32\n"
        "\n"
        "add r/m64, imm32\n"
        "add r/m64, imm8\n"
        "add r/m64, r64\n"
        "add r64, r/m64",
        "add r/m8, imm8\n"
        "add r/m8, r8\n"
        "add r8, r/m8\n"
        "\n"
        "add r/m16, imm16\n"
        "add r/m16, imm8\n"
        "add r/m16, r16\n"
        "add r16, r/m16\n"
        "\n"
        "add r/m32, imm32\n"
        "add r/m32, imm8\n"
        "add r/m32, r32\n"
        "add r32, r/m32",
    },
    {
        "adc", "arith", "adc", "", "", "OF SF ZF AF PF CF",
        "add rax, rcx\n"
        "adc rdx, 0",
        "adc r/m8, imm8\n"
        "adc r/m8, r8\n"
        "adc r8, r/m8\n"
        "\n"
        "adc r/m16, imm16\n"
        "adc r/m16, imm8\n"
        "adc r/m16, r16\n"
        "adc r16, r/m16\n"
        "\n"
        "adc r/m32, imm32\n"
        "adc r/m32, imm8\n"
        "adc r/m32, r32\n"
        "adc r32, r/m32\n"
        "\n"
        "adc r/m64, imm32\n"
        "adc r/m64, imm8\n"
        "adc r/m64, r64\n"
        "adc r64, r/m64",
        "adc r/m8, imm8\n"
        "adc r/m8, r8\n"
        "adc r8, r/m8\n"
        "\n"
        "adc r/m16, imm16\n"
        "adc r/m16, imm8\n"
        "adc r/m16, r16\n"
        "adc r16, r/m16\n"
        "\n"
        "adc r/m32, imm32\n"
        "adc r/m32, imm8\n"
        "adc r/m32, r32\n"
        "adc r32, r/m32",
    },
    {
        "sub", "arith", "sub", "", "", "OF SF ZF AF PF CF",
        "sub rsp, 16",
        "sub r/m8, imm8\n"
        "sub r/m8, r8\n"
        "sub r8, r/m8\n"
        "\n"
        "sub r/m16, imm16\n"
        "sub r/m16, imm8\n"
        "sub r/m16, r16\n"
        "sub r16, r/m16\n"
        "\n"
        "sub r/m32, imm32\n"
        "sub r/m32, imm8\n"
        "sub r/m32, r32\n"
        "sub r32, r/m32\n"
        "\n"
        "sub r/m64, imm32\n"
        "sub r/m64, imm8\n"
        "sub r/m64, r64\n"
        "sub r64, r/m64",
        "sub r/m8, imm8\n"
        "sub r/m8, r8\n"
        "sub r8, r/m8\n"
        "\n"
        "sub r/m16, imm16\n"
        "sub r/m16, imm8\n"
        "sub r/m16, r16\n"
        "sub r16, r/m16\n"
        "\n"
        "sub r/m32, imm32\n"
        "sub r/m32, imm8\n"
        "sub r/m32, r32\n"
        "sub r32, r/m32",
    },
    {
        "sbb", "arith", "sbb", "", "", "OF SF ZF AF PF CF",
        "sub rax, rcx\n"
        "sbb rdx, 0",
        "sbb r/m8, imm8\n"
        "sbb r/m8, r8\n"
        "sbb r8, r/m8\n"
        "\n"
        "sbb r/m16, imm16\n"
        "sbb r/m16, imm8\n"
        "sbb r/m16, r16\n"
        "sbb r16, r/m16\n"
        "\n"
        "sbb r/m32, imm32\n"
        "sbb r/m32, imm8\n"
        "sbb r/m32, r32\n"
        "sbb r32, r/m32\n"
        "\n"
        "sbb r/m64, imm32\n"
        "sbb r/m64, imm8\n"
        "sbb r/m64, r64\n"
        "sbb r64, r/m64",
        "sbb r/m8, imm8\n"
        "sbb r/m8, r8\n"
        "sbb r8, r/m8\n"
        "\n"
        "sbb r/m16, imm16\n"
        "sbb r/m16, imm8\n"
        "sbb r/m16, r16\n"
        "sbb r16, r/m16\n"
        "\n"
        "sbb r/m32, imm32\n"
        "sbb r/m32, imm8\n"
        "sbb r/m32, r32\n"
        "sbb r32, r/m32",
    },
    {
        "inc", "arith", "inc", "", "", "OF SF ZF AF PF",
        "inc rcx",
        "inc r/m8\n"
        "\n"
        "inc r/m16\n"
        "\n"
        "inc r/m32\n"
        "\n"
        "inc r/m64",
        "inc r/m8\n"
        "\n"
        "inc r/m16\n"
        "\n"
        "inc r/m32",
    },
    {
        "dec", "arith", "dec", "", "", "OF SF ZF AF PF",
        "dec rcx\n"
        "jnz again",
        "dec r/m8\n"
        "\n"
        "dec r/m16\n"
        "\n"
        "dec r/m32\n"
        "\n"
        "dec r/m64",
        "dec r/m8\n"
        "\n"
        "dec r/m16\n"
        "\n"
        "dec r/m32",
    },
    {
        "neg", "arith", "neg", "", "", "OF SF ZF AF PF CF",
        "neg rax",
        "neg r/m8\n"
        "\n"
        "neg r/m16\n"
        "\n"
        "neg r/m32\n"
        "\n"
        "neg r/m64",
        "neg r/m8\n"
        "\n"
        "neg r/m16\n"
        "\n"
        "neg r/m32",
    },
    {
        "cmp", "arith", "cmp", "", "", "OF SF ZF AF PF CF",
        "cmp rax, 10\n"
        "jl smaller",
        "cmp r/m8, imm8\n"
        "cmp r/m8, r8\n"
        "cmp r8, r/m8\n"
        "\n"
        "cmp r/m16, imm16\n"
        "cmp r/m16, imm8\n"
        "cmp r/m16, r16\n"
        "cmp r16, r/m16\n"
        "\n"
        "cmp r/m32, imm32\n"
        "cmp r/m32, imm8\n"
        "cmp r/m32, r32\n"
        "cmp r32, r/m32\n"
        "\n"
        "cmp r/m64, imm32\n"
        "cmp r/m64, imm8\n"
        "cmp r/m64, r64\n"
        "cmp r64, r/m64",
        "cmp r/m8, imm8\n"
        "cmp r/m8, r8\n"
        "cmp r8, r/m8\n"
        "\n"
        "cmp r/m16, imm16\n"
        "cmp r/m16, imm8\n"
        "cmp r/m16, r16\n"
        "cmp r16, r/m16\n"
        "\n"
        "cmp r/m32, imm32\n"
        "cmp r/m32, imm8\n"
        "cmp r/m32, r32\n"
        "cmp r32, r/m32",
    },
    {
        "mul", "arith", "mul", "", "", "OF CF | SF ZF AF PF",
        "mov rax, 6\n"
        "mov rbx, 7\n"
        "mul rbx",
        "mul r/m8\n"
        "\n"
        "mul r/m16\n"
        "\n"
        "mul r/m32\n"
        "\n"
        "mul r/m64",
        "mul r/m8\n"
        "\n"
        "mul r/m16\n"
        "\n"
        "mul r/m32",
    },
    {
        "imul", "arith", "imul", "", "", "OF CF | SF ZF AF PF",
        "imul rax, rbx\n"
        "imul rax, rbx, 10",
        "imul r/m8\n"
        "\n"
        "imul r/m16\n"
        "imul r16, r/m16\n"
        "imul r16, r/m16, imm8\n"
        "imul r16, r/m16, imm16\n"
        "\n"
        "imul r/m32\n"
        "imul r32, r/m32\n"
        "imul r32, r/m32, imm8\n"
        "imul r32, r/m32, imm32\n"
        "\n"
        "imul r/m64\n"
        "imul r64, r/m64\n"
        "imul r64, r/m64, imm8\n"
        "imul r64, r/m64, imm32",
        "imul r/m8\n"
        "\n"
        "imul r/m16\n"
        "imul r16, r/m16\n"
        "imul r16, r/m16, imm8\n"
        "imul r16, r/m16, imm16\n"
        "\n"
        "imul r/m32\n"
        "imul r32, r/m32\n"
        "imul r32, r/m32, imm8\n"
        "imul r32, r/m32, imm32",
    },
    {
        "div", "arith", "div", "", "", "| OF SF ZF AF PF CF",
        "mov rax, 100\n"
        "xor edx, edx\n"
        "mov rbx, 7\n"
        "div rbx",
        "div r/m8\n"
        "\n"
        "div r/m16\n"
        "\n"
        "div r/m32\n"
        "\n"
        "div r/m64",
        "div r/m8\n"
        "\n"
        "div r/m16\n"
        "\n"
        "div r/m32",
    },
    {
        "idiv", "arith", "idiv", "", "", "| OF SF ZF AF PF CF",
        "mov rax, -100\n"
        "cqo\n"
        "mov rbx, 7\n"
        "idiv rbx",
        "idiv r/m8\n"
        "\n"
        "idiv r/m16\n"
        "\n"
        "idiv r/m32\n"
        "\n"
        "idiv r/m64",
        "idiv r/m8\n"
        "\n"
        "idiv r/m16\n"
        "\n"
        "idiv r/m32",
    },

    // logic
    {
        "and", "logic", "and", "", "", "OF SF ZF PF CF | AF",
        "and eax, 0xFF",
        "and r/m8, imm8\n"
        "and r/m8, r8\n"
        "and r8, r/m8\n"
        "\n"
        "and r/m16, imm16\n"
        "and r/m16, imm8\n"
        "and r/m16, r16\n"
        "and r16, r/m16\n"
        "\n"
        "and r/m32, imm32\n"
        "and r/m32, imm8\n"
        "and r/m32, r32\n"
        "and r32, r/m32\n"
        "\n"
        "and r/m64, imm32\n"
        "and r/m64, imm8\n"
        "and r/m64, r64\n"
        "and r64, r/m64",
        "and r/m8, imm8\n"
        "and r/m8, r8\n"
        "and r8, r/m8\n"
        "\n"
        "and r/m16, imm16\n"
        "and r/m16, imm8\n"
        "and r/m16, r16\n"
        "and r16, r/m16\n"
        "\n"
        "and r/m32, imm32\n"
        "and r/m32, imm8\n"
        "and r/m32, r32\n"
        "and r32, r/m32",
    },
    {
        "or", "logic", "or", "", "", "OF SF ZF PF CF | AF",
        "or al, 0x20",
        "or r/m8, imm8\n"
        "or r/m8, r8\n"
        "or r8, r/m8\n"
        "\n"
        "or r/m16, imm16\n"
        "or r/m16, imm8\n"
        "or r/m16, r16\n"
        "or r16, r/m16\n"
        "\n"
        "or r/m32, imm32\n"
        "or r/m32, imm8\n"
        "or r/m32, r32\n"
        "or r32, r/m32\n"
        "\n"
        "or r/m64, imm32\n"
        "or r/m64, imm8\n"
        "or r/m64, r64\n"
        "or r64, r/m64",
        "or r/m8, imm8\n"
        "or r/m8, r8\n"
        "or r8, r/m8\n"
        "\n"
        "or r/m16, imm16\n"
        "or r/m16, imm8\n"
        "or r/m16, r16\n"
        "or r16, r/m16\n"
        "\n"
        "or r/m32, imm32\n"
        "or r/m32, imm8\n"
        "or r/m32, r32\n"
        "or r32, r/m32",
    },
    {
        "xor", "logic", "xor", "", "", "OF SF ZF PF CF | AF",
        "xor eax, eax",
        "xor r/m8, imm8\n"
        "xor r/m8, r8\n"
        "xor r8, r/m8\n"
        "\n"
        "xor r/m16, imm16\n"
        "xor r/m16, imm8\n"
        "xor r/m16, r16\n"
        "xor r16, r/m16\n"
        "\n"
        "xor r/m32, imm32\n"
        "xor r/m32, imm8\n"
        "xor r/m32, r32\n"
        "xor r32, r/m32\n"
        "\n"
        "xor r/m64, imm32\n"
        "xor r/m64, imm8\n"
        "xor r/m64, r64\n"
        "xor r64, r/m64",
        "xor r/m8, imm8\n"
        "xor r/m8, r8\n"
        "xor r8, r/m8\n"
        "\n"
        "xor r/m16, imm16\n"
        "xor r/m16, imm8\n"
        "xor r/m16, r16\n"
        "xor r16, r/m16\n"
        "\n"
        "xor r/m32, imm32\n"
        "xor r/m32, imm8\n"
        "xor r/m32, r32\n"
        "xor r32, r/m32",
    },
    {
        "not", "logic", "not", "", "", "",
        "not rax",
        "not r/m8\n"
        "\n"
        "not r/m16\n"
        "\n"
        "not r/m32\n"
        "\n"
        "not r/m64",
        "not r/m8\n"
        "\n"
        "not r/m16\n"
        "\n"
        "not r/m32",
    },
    {
        "test", "logic", "test", "", "", "OF SF ZF PF CF | AF",
        "test rax, rax\n"
        "jz is_zero",
        "test r/m8, imm8\n"
        "test r/m8, r8\n"
        "\n"
        "test r/m16, imm16\n"
        "test r/m16, r16\n"
        "\n"
        "test r/m32, imm32\n"
        "test r/m32, r32\n"
        "\n"
        "test r/m64, imm32\n"
        "test r/m64, r64",
        "test r/m8, imm8\n"
        "test r/m8, r8\n"
        "\n"
        "test r/m16, imm16\n"
        "test r/m16, r16\n"
        "\n"
        "test r/m32, imm32\n"
        "test r/m32, r32",
    },

    // shift
    {
        "shl", "shift", "shl,sal", "", "", "OF SF ZF PF CF | AF | of1",
        "shl rax, 3\n"
        "shl rbx, cl",
        "shl r/m8, imm8\n"
        "shl r/m8, cl\n"
        "\n"
        "shl r/m16, imm8\n"
        "shl r/m16, cl\n"
        "\n"
        "shl r/m32, imm8\n"
        "shl r/m32, cl\n"
        "\n"
        "shl r/m64, imm8\n"
        "shl r/m64, cl\n"
        "\n"
        "sal r/m8, imm8\n"
        "sal r/m8, cl\n"
        "\n"
        "sal r/m16, imm8\n"
        "sal r/m16, cl\n"
        "\n"
        "sal r/m32, imm8\n"
        "sal r/m32, cl\n"
        "\n"
        "sal r/m64, imm8\n"
        "sal r/m64, cl",
        "shl r/m8, imm8\n"
        "shl r/m8, cl\n"
        "\n"
        "shl r/m16, imm8\n"
        "shl r/m16, cl\n"
        "\n"
        "shl r/m32, imm8\n"
        "shl r/m32, cl\n"
        "\n"
        "sal r/m8, imm8\n"
        "sal r/m8, cl\n"
        "\n"
        "sal r/m16, imm8\n"
        "sal r/m16, cl\n"
        "\n"
        "sal r/m32, imm8\n"
        "sal r/m32, cl",
    },
    {
        "shr", "shift", "shr", "", "", "OF SF ZF PF CF | AF | of1",
        "shr rax, 1",
        "shr r/m8, imm8\n"
        "shr r/m8, cl\n"
        "\n"
        "shr r/m16, imm8\n"
        "shr r/m16, cl\n"
        "\n"
        "shr r/m32, imm8\n"
        "shr r/m32, cl\n"
        "\n"
        "shr r/m64, imm8\n"
        "shr r/m64, cl",
        "shr r/m8, imm8\n"
        "shr r/m8, cl\n"
        "\n"
        "shr r/m16, imm8\n"
        "shr r/m16, cl\n"
        "\n"
        "shr r/m32, imm8\n"
        "shr r/m32, cl",
    },
    {
        "sar", "shift", "sar", "", "", "OF SF ZF PF CF | AF | of1",
        "sar rax, 63",
        "sar r/m8, imm8\n"
        "sar r/m8, cl\n"
        "\n"
        "sar r/m16, imm8\n"
        "sar r/m16, cl\n"
        "\n"
        "sar r/m32, imm8\n"
        "sar r/m32, cl\n"
        "\n"
        "sar r/m64, imm8\n"
        "sar r/m64, cl",
        "sar r/m8, imm8\n"
        "sar r/m8, cl\n"
        "\n"
        "sar r/m16, imm8\n"
        "sar r/m16, cl\n"
        "\n"
        "sar r/m32, imm8\n"
        "sar r/m32, cl",
    },
    {
        "rol", "shift", "rol,ror", "", "", "OF CF | | of1",
        "rol eax, 8",
        "rol r/m8, imm8\n"
        "rol r/m8, cl\n"
        "\n"
        "rol r/m16, imm8\n"
        "rol r/m16, cl\n"
        "\n"
        "rol r/m32, imm8\n"
        "rol r/m32, cl\n"
        "\n"
        "rol r/m64, imm8\n"
        "rol r/m64, cl\n"
        "\n"
        "ror r/m8, imm8\n"
        "ror r/m8, cl\n"
        "\n"
        "ror r/m16, imm8\n"
        "ror r/m16, cl\n"
        "\n"
        "ror r/m32, imm8\n"
        "ror r/m32, cl\n"
        "\n"
        "ror r/m64, imm8\n"
        "ror r/m64, cl",
        "rol r/m8, imm8\n"
        "rol r/m8, cl\n"
        "\n"
        "rol r/m16, imm8\n"
        "rol r/m16, cl\n"
        "\n"
        "rol r/m32, imm8\n"
        "rol r/m32, cl\n"
        "\n"
        "ror r/m8, imm8\n"
        "ror r/m8, cl\n"
        "\n"
        "ror r/m16, imm8\n"
        "ror r/m16, cl\n"
        "\n"
        "ror r/m32, imm8\n"
        "ror r/m32, cl",
    },
    {
        "rcl", "shift", "rcl,rcr", "", "", "OF CF | | of1",
        "shl rax, 1\n"
        "rcl rdx, 1",
        "rcl r/m8, imm8\n"
        "rcl r/m8, cl\n"
        "\n"
        "rcl r/m16, imm8\n"
        "rcl r/m16, cl\n"
        "\n"
        "rcl r/m32, imm8\n"
        "rcl r/m32, cl\n"
        "\n"
        "rcl r/m64, imm8\n"
        "rcl r/m64, cl\n"
        "\n"
        "rcr r/m8, imm8\n"
        "rcr r/m8, cl\n"
        "\n"
        "rcr r/m16, imm8\n"
        "rcr r/m16, cl\n"
        "\n"
        "rcr r/m32, imm8\n"
        "rcr r/m32, cl\n"
        "\n"
        "rcr r/m64, imm8\n"
        "rcr r/m64, cl",
        "rcl r/m8, imm8\n"
        "rcl r/m8, cl\n"
        "\n"
        "rcl r/m16, imm8\n"
        "rcl r/m16, cl\n"
        "\n"
        "rcl r/m32, imm8\n"
        "rcl r/m32, cl\n"
        "\n"
        "rcr r/m8, imm8\n"
        "rcr r/m8, cl\n"
        "\n"
        "rcr r/m16, imm8\n"
        "rcr r/m16, cl\n"
        "\n"
        "rcr r/m32, imm8\n"
        "rcr r/m32, cl",
    },
    {
        "shld", "shift", "shld,shrd", "", "", "OF SF ZF PF CF | AF | of1",
        "shld rdx, rax, 4",
        "shld r/m16, r16, imm8\n"
        "shld r/m16, r16, cl\n"
        "\n"
        "shld r/m32, r32, imm8\n"
        "shld r/m32, r32, cl\n"
        "\n"
        "shld r/m64, r64, imm8\n"
        "shld r/m64, r64, cl\n"
        "\n"
        "shrd r/m16, r16, imm8\n"
        "shrd r/m16, r16, cl\n"
        "\n"
        "shrd r/m32, r32, imm8\n"
        "shrd r/m32, r32, cl\n"
        "\n"
        "shrd r/m64, r64, imm8\n"
        "shrd r/m64, r64, cl",
        "shld r/m16, r16, imm8\n"
        "shld r/m16, r16, cl\n"
        "\n"
        "shld r/m32, r32, imm8\n"
        "shld r/m32, r32, cl\n"
        "\n"
        "shrd r/m16, r16, imm8\n"
        "shrd r/m16, r16, cl\n"
        "\n"
        "shrd r/m32, r32, imm8\n"
        "shrd r/m32, r32, cl",
    },

    // bits
    {
        "bt", "bits", "bt,bts,btr,btc", "", "", "CF | OF SF AF PF",
        "bt rax, 5\n"
        "jc bit_set",
        "bt r/m16, r16\n"
        "bt r/m16, imm8\n"
        "\n"
        "bt r/m32, r32\n"
        "bt r/m32, imm8\n"
        "\n"
        "bt r/m64, r64\n"
        "bt r/m64, imm8\n"
        "\n"
        "bts r/m16, r16\n"
        "bts r/m16, imm8\n"
        "\n"
        "bts r/m32, r32\n"
        "bts r/m32, imm8\n"
        "\n"
        "bts r/m64, r64\n"
        "bts r/m64, imm8\n"
        "\n"
        "btr r/m16, r16\n"
        "btr r/m16, imm8\n"
        "\n"
        "btr r/m32, r32\n"
        "btr r/m32, imm8\n"
        "\n"
        "btr r/m64, r64\n"
        "btr r/m64, imm8\n"
        "\n"
        "btc r/m16, r16\n"
        "btc r/m16, imm8\n"
        "\n"
        "btc r/m32, r32\n"
        "btc r/m32, imm8\n"
        "\n"
        "btc r/m64, r64\n"
        "btc r/m64, imm8",
        "bt r/m16, r16\n"
        "bt r/m16, imm8\n"
        "\n"
        "bt r/m32, r32\n"
        "bt r/m32, imm8\n"
        "\n"
        "bts r/m16, r16\n"
        "bts r/m16, imm8\n"
        "\n"
        "bts r/m32, r32\n"
        "bts r/m32, imm8\n"
        "\n"
        "btr r/m16, r16\n"
        "btr r/m16, imm8\n"
        "\n"
        "btr r/m32, r32\n"
        "btr r/m32, imm8\n"
        "\n"
        "btc r/m16, r16\n"
        "btc r/m16, imm8\n"
        "\n"
        "btc r/m32, r32\n"
        "btc r/m32, imm8",
    },
    {
        "bsf", "bits", "bsf,bsr", "", "", "ZF | OF SF AF PF CF",
        "bsf rcx, rax",
        "bsf r16, r/m16\n"
        "\n"
        "bsf r32, r/m32\n"
        "\n"
        "bsf r64, r/m64\n"
        "\n"
        "bsr r16, r/m16\n"
        "\n"
        "bsr r32, r/m32\n"
        "\n"
        "bsr r64, r/m64",
        "bsf r16, r/m16\n"
        "\n"
        "bsf r32, r/m32\n"
        "\n"
        "bsr r16, r/m16\n"
        "\n"
        "bsr r32, r/m32",
    },
    {
        "popcnt", "bits", "popcnt", "", "", "OF SF ZF AF PF CF",
        "popcnt rax, rbx",
        "popcnt r16, r/m16\n"
        "\n"
        "popcnt r32, r/m32\n"
        "\n"
        "popcnt r64, r/m64",
        "popcnt r16, r/m16\n"
        "\n"
        "popcnt r32, r/m32",
    },
    {
        "lzcnt", "bits", "lzcnt,tzcnt", "", "", "ZF CF | OF SF AF PF",
        "lzcnt rax, rbx",
        "lzcnt r16, r/m16\n"
        "\n"
        "lzcnt r32, r/m32\n"
        "\n"
        "lzcnt r64, r/m64\n"
        "\n"
        "tzcnt r16, r/m16\n"
        "\n"
        "tzcnt r32, r/m32\n"
        "\n"
        "tzcnt r64, r/m64",
        "lzcnt r16, r/m16\n"
        "\n"
        "lzcnt r32, r/m32\n"
        "\n"
        "tzcnt r16, r/m16\n"
        "\n"
        "tzcnt r32, r/m32",
    },
    {
        "set_e", "bits", "sete,setz", "set", "e", "",
        "cmp rax, rbx\n"
        "sete al\n"
        "movzx eax, al",
        "sete r/m8\n"
        "setz r/m8",
        "sete r/m8\n"
        "setz r/m8",
    },
    {
        "set_ne", "bits", "setne,setnz", "set", "ne", "",
        "cmp rax, rbx\n"
        "setne al\n"
        "movzx eax, al",
        "setne r/m8\n"
        "setnz r/m8",
        "setne r/m8\n"
        "setnz r/m8",
    },
    {
        "set_l", "bits", "setl,setnge", "set", "l", "",
        "cmp rax, rbx\n"
        "setl al\n"
        "movzx eax, al",
        "setl r/m8\n"
        "setnge r/m8",
        "setl r/m8\n"
        "setnge r/m8",
    },
    {
        "set_le", "bits", "setle,setng", "set", "le", "",
        "cmp rax, rbx\n"
        "setle al\n"
        "movzx eax, al",
        "setle r/m8\n"
        "setng r/m8",
        "setle r/m8\n"
        "setng r/m8",
    },
    {
        "set_g", "bits", "setg,setnle", "set", "g", "",
        "cmp rax, rbx\n"
        "setg al\n"
        "movzx eax, al",
        "setg r/m8\n"
        "setnle r/m8",
        "setg r/m8\n"
        "setnle r/m8",
    },
    {
        "set_ge", "bits", "setge,setnl", "set", "ge", "",
        "cmp rax, rbx\n"
        "setge al\n"
        "movzx eax, al",
        "setge r/m8\n"
        "setnl r/m8",
        "setge r/m8\n"
        "setnl r/m8",
    },
    {
        "set_b", "bits", "setb,setc,setnae", "set", "b", "",
        "cmp rax, rbx\n"
        "setb al\n"
        "movzx eax, al",
        "setb r/m8\n"
        "setc r/m8\n"
        "setnae r/m8",
        "setb r/m8\n"
        "setc r/m8\n"
        "setnae r/m8",
    },
    {
        "set_be", "bits", "setbe,setna", "set", "be", "",
        "cmp rax, rbx\n"
        "setbe al\n"
        "movzx eax, al",
        "setbe r/m8\n"
        "setna r/m8",
        "setbe r/m8\n"
        "setna r/m8",
    },
    {
        "set_a", "bits", "seta,setnbe", "set", "a", "",
        "cmp rax, rbx\n"
        "seta al\n"
        "movzx eax, al",
        "seta r/m8\n"
        "setnbe r/m8",
        "seta r/m8\n"
        "setnbe r/m8",
    },
    {
        "set_ae", "bits", "setae,setnb,setnc", "set", "ae", "",
        "cmp rax, rbx\n"
        "setae al\n"
        "movzx eax, al",
        "setae r/m8\n"
        "setnb r/m8\n"
        "setnc r/m8",
        "setae r/m8\n"
        "setnb r/m8\n"
        "setnc r/m8",
    },
    {
        "set_s", "bits", "sets", "set", "s", "",
        "cmp rax, rbx\n"
        "sets al\n"
        "movzx eax, al",
        "sets r/m8",
        "sets r/m8",
    },
    {
        "set_ns", "bits", "setns", "set", "ns", "",
        "cmp rax, rbx\n"
        "setns al\n"
        "movzx eax, al",
        "setns r/m8",
        "setns r/m8",
    },
    {
        "set_o", "bits", "seto", "set", "o", "",
        "cmp rax, rbx\n"
        "seto al\n"
        "movzx eax, al",
        "seto r/m8",
        "seto r/m8",
    },
    {
        "set_no", "bits", "setno", "set", "no", "",
        "cmp rax, rbx\n"
        "setno al\n"
        "movzx eax, al",
        "setno r/m8",
        "setno r/m8",
    },
    {
        "set_p", "bits", "setp,setpe", "set", "p", "",
        "cmp rax, rbx\n"
        "setp al\n"
        "movzx eax, al",
        "setp r/m8\n"
        "setpe r/m8",
        "setp r/m8\n"
        "setpe r/m8",
    },
    {
        "set_np", "bits", "setnp,setpo", "set", "np", "",
        "cmp rax, rbx\n"
        "setnp al\n"
        "movzx eax, al",
        "setnp r/m8\n"
        "setpo r/m8",
        "setnp r/m8\n"
        "setpo r/m8",
    },

    // jump
    {
        "jmp", "jump", "jmp", "", "", "",
        "jmp done",
        "jmp label\n"
        "\n"
        "jmp r/m64",
        "jmp label\n"
        "\n"
        "jmp r/m32",
    },
    {
        "j_e", "jump", "je,jz", "j", "e", "",
        "cmp rax, 10\n"
        "je target",
        "je label\n"
        "jz label",
        "je label\n"
        "jz label",
    },
    {
        "j_ne", "jump", "jne,jnz", "j", "ne", "",
        "cmp rax, 10\n"
        "jne target",
        "jne label\n"
        "jnz label",
        "jne label\n"
        "jnz label",
    },
    {
        "j_l", "jump", "jl,jnge", "j", "l", "",
        "cmp rax, 10\n"
        "jl target",
        "jl label\n"
        "jnge label",
        "jl label\n"
        "jnge label",
    },
    {
        "j_le", "jump", "jle,jng", "j", "le", "",
        "cmp rax, 10\n"
        "jle target",
        "jle label\n"
        "jng label",
        "jle label\n"
        "jng label",
    },
    {
        "j_g", "jump", "jg,jnle", "j", "g", "",
        "cmp rax, 10\n"
        "jg target",
        "jg label\n"
        "jnle label",
        "jg label\n"
        "jnle label",
    },
    {
        "j_ge", "jump", "jge,jnl", "j", "ge", "",
        "cmp rax, 10\n"
        "jge target",
        "jge label\n"
        "jnl label",
        "jge label\n"
        "jnl label",
    },
    {
        "j_b", "jump", "jb,jc,jnae", "j", "b", "",
        "cmp rax, 10\n"
        "jb target",
        "jb label\n"
        "jc label\n"
        "jnae label",
        "jb label\n"
        "jc label\n"
        "jnae label",
    },
    {
        "j_be", "jump", "jbe,jna", "j", "be", "",
        "cmp rax, 10\n"
        "jbe target",
        "jbe label\n"
        "jna label",
        "jbe label\n"
        "jna label",
    },
    {
        "j_a", "jump", "ja,jnbe", "j", "a", "",
        "cmp rax, 10\n"
        "ja target",
        "ja label\n"
        "jnbe label",
        "ja label\n"
        "jnbe label",
    },
    {
        "j_ae", "jump", "jae,jnb,jnc", "j", "ae", "",
        "cmp rax, 10\n"
        "jae target",
        "jae label\n"
        "jnb label\n"
        "jnc label",
        "jae label\n"
        "jnb label\n"
        "jnc label",
    },
    {
        "j_s", "jump", "js", "j", "s", "",
        "cmp rax, 10\n"
        "js target",
        "js label",
        "js label",
    },
    {
        "j_ns", "jump", "jns", "j", "ns", "",
        "cmp rax, 10\n"
        "jns target",
        "jns label",
        "jns label",
    },
    {
        "j_o", "jump", "jo", "j", "o", "",
        "cmp rax, 10\n"
        "jo target",
        "jo label",
        "jo label",
    },
    {
        "j_no", "jump", "jno", "j", "no", "",
        "cmp rax, 10\n"
        "jno target",
        "jno label",
        "jno label",
    },
    {
        "j_p", "jump", "jp,jpe", "j", "p", "",
        "cmp rax, 10\n"
        "jp target",
        "jp label\n"
        "jpe label",
        "jp label\n"
        "jpe label",
    },
    {
        "j_np", "jump", "jnp,jpo", "j", "np", "",
        "cmp rax, 10\n"
        "jnp target",
        "jnp label\n"
        "jpo label",
        "jnp label\n"
        "jpo label",
    },
    {
        "jrcxz", "jump", "jrcxz,jecxz,jcxz", "", "", "",
        "jrcxz empty",
        "jecxz label\n"
        "jrcxz label",
        "jcxz label\n"
        "jecxz label",
    },
    {
        "loop", "jump", "loop,loope,loopne", "", "", "",
        "mov rcx, 10\n"
        "again:\n"
        "    ; ...\n"
        "    loop again",
        "loop label\n"
        "loope label\n"
        "loopne label",
        "loop label\n"
        "loope label\n"
        "loopne label",
    },
    {
        "call", "jump", "call", "", "", "",
        "call print\n"
        "; ...\n"
        "print:\n"
        "    ; ...\n"
        "    ret",
        "call label\n"
        "\n"
        "call r/m64",
        "call label\n"
        "\n"
        "call r/m16\n"
        "\n"
        "call r/m32",
    },
    {
        "ret", "jump", "ret", "", "", "",
        "ret",
        "ret\n"
        "ret imm16",
        "ret\n"
        "ret imm16",
    },

    // stack
    {
        "push", "stack", "push", "", "", "",
        "push rbx\n"
        "; ...\n"
        "pop rbx",
        "push r/m16\n"
        "push imm16\n"
        "\n"
        "push r/m64\n"
        "push imm8\n"
        "push imm32",
        "push r/m16\n"
        "push imm16\n"
        "\n"
        "push r/m32\n"
        "push imm8\n"
        "push imm32",
    },
    {
        "pop", "stack", "pop", "", "", "",
        "pop rbx",
        "pop r/m16\n"
        "\n"
        "pop r/m64",
        "pop r/m16\n"
        "\n"
        "pop r/m32",
    },
    {
        "pushf", "stack", "pushf,popf", "", "", "popf: CF PF AF ZF SF TF DF OF AC ID",
        "pushf\n"
        "; ...\n"
        "popf",
        "pushf\n"
        "popf",
        "pushf\n"
        "popf",
    },
    {
        "enter", "stack", "enter,leave", "", "", "",
        "push rbp\n"
        "mov rbp, rsp\n"
        "sub rsp, 32\n"
        "; ...\n"
        "leave\n"
        "ret",
        "enter imm16, imm8\n"
        "leave",
        "enter imm16, imm8\n"
        "leave",
    },

    // string
    {
        "movs", "string", "movsb,movsw,movsd,movsq", "", "", "",
        "lea rsi, [rel src]\n"
        "lea rdi, [rel dst]\n"
        "mov rcx, 16\n"
        "rep movsb",
        "movsb\n"
        "movsw\n"
        "movsd\n"
        "movsq",
        "movsb\n"
        "movsw\n"
        "movsd",
    },
    {
        "stos", "string", "stosb,stosw,stosd,stosq", "", "", "",
        "lea rdi, [rel buf]\n"
        "mov rcx, 64\n"
        "xor eax, eax\n"
        "rep stosb",
        "stosb\n"
        "stosw\n"
        "stosd\n"
        "stosq",
        "stosb\n"
        "stosw\n"
        "stosd",
    },
    {
        "lods", "string", "lodsb,lodsw,lodsd,lodsq", "", "", "",
        "lea rsi, [rel text]\n"
        "lodsb",
        "lodsb\n"
        "lodsw\n"
        "lodsd\n"
        "lodsq",
        "lodsb\n"
        "lodsw\n"
        "lodsd",
    },
    {
        "scas", "string", "scasb,scasw,scasd,scasq", "", "", "OF SF ZF AF PF CF",
        "lea rdi, [rel text]\n"
        "mov rcx, -1\n"
        "xor eax, eax\n"
        "repne scasb",
        "scasb\n"
        "scasw\n"
        "scasd\n"
        "scasq",
        "scasb\n"
        "scasw\n"
        "scasd",
    },
    {
        "cmps", "string", "cmpsb,cmpsw,cmpsd,cmpsq", "", "", "OF SF ZF AF PF CF",
        "lea rsi, [rel a]\n"
        "lea rdi, [rel b]\n"
        "mov rcx, 8\n"
        "repe cmpsb\n"
        "jne differ",
        "cmpsb\n"
        "cmpsw\n"
        "cmpsd\n"
        "cmpsq",
        "cmpsb\n"
        "cmpsw\n"
        "cmpsd",
    },
    {
        "rep", "string", "rep,repe,repz,repne,repnz", "", "", "",
        "mov rcx, 100\n"
        "lea rdi, [rel buf]\n"
        "mov al, ' '\n"
        "rep stosb",
        "",
        "",
    },

    // flags
    {
        "clc", "flags", "clc,stc,cmc", "", "", "CF",
        "stc",
        "clc\n"
        "stc\n"
        "cmc",
        "clc\n"
        "stc\n"
        "cmc",
    },
    {
        "cld", "flags", "cld,std", "", "", "DF",
        "cld",
        "cld\n"
        "std",
        "cld\n"
        "std",
    },
    {
        "lahf", "flags", "lahf,sahf", "", "", "sahf: SF ZF AF PF CF",
        "lahf",
        "lahf\n"
        "sahf",
        "lahf\n"
        "sahf",
    },

    // system
    {
        "syscall", "system", "syscall", "", "", "",
        "mov rax, 60\n"
        "xor edi, edi\n"
        "syscall",
        "syscall",
        // Intel processors refuse it in 32-bit mode; 32-bit Linux code uses int 0x80.
        "",
    },
    {
        "int", "system", "int", "", "", "",
        "mov eax, 1\n"
        "xor ebx, ebx\n"
        "int 0x80",
        "int imm8",
        "int imm8",
    },
    {
        "int3", "system", "int3", "", "", "",
        "int3",
        "int3",
        "int3",
    },
    {
        "nop", "system", "nop", "", "", "",
        "nop",
        "nop\n"
        "\n"
        "nop r/m16\n"
        "\n"
        "nop r/m32\n"
        "\n"
        "nop r/m64",
        "nop\n"
        "\n"
        "nop r/m16\n"
        "\n"
        "nop r/m32",
    },
    {
        "hlt", "system", "hlt", "", "", "",
        "hlt",
        "hlt",
        "hlt",
    },
    {
        "cpuid", "system", "cpuid", "", "", "",
        "xor eax, eax\n"
        "cpuid",
        "cpuid",
        "cpuid",
    },
    {
        "rdtsc", "system", "rdtsc", "", "", "",
        "rdtsc\n"
        "shl rdx, 32\n"
        "or rax, rdx",
        "rdtsc",
        "rdtsc",
    },
    {
        "pause", "system", "pause", "", "", "",
        "spin:\n"
        "    pause\n"
        "    cmp byte [rel ready], 0\n"
        "    je spin",
        "pause",
        "pause",
    },
    {
        "ud2", "system", "ud2", "", "", "",
        "ud2",
        "ud2",
        "ud2",
    },
    {
        "lock", "system", "lock", "", "", "",
        "lock inc qword [rel counter]",
        "",
        "",
    },

    // sse
    {
        "movd", "sse", "movd,movq", "", "", "",
        "movq xmm0, rax\n"
        "movq rax, xmm0",
        "movd xmm, r/m32\n"
        "movd r/m32, xmm\n"
        "\n"
        "movq xmm, r/m64\n"
        "movq r/m64, xmm\n"
        "movq xmm, xmm/m64\n"
        "movq xmm/m64, xmm",
        "movd xmm, r/m32\n"
        "movd r/m32, xmm\n"
        "\n"
        "movq xmm, xmm/m64\n"
        "movq xmm/m64, xmm",
    },
    {
        "movss", "sse", "movsd,movss", "", "", "",
        "movsd xmm0, [rel value]\n"
        "movsd [rel result], xmm0",
        "movss xmm, xmm/m32\n"
        "movss m32, xmm\n"
        "\n"
        "movsd xmm, xmm/m64\n"
        "movsd m64, xmm",
        "movss xmm, xmm/m32\n"
        "movss m32, xmm\n"
        "\n"
        "movsd xmm, xmm/m64\n"
        "movsd m64, xmm",
    },
    {
        "movaps", "sse", "movaps,movups,movapd,movupd", "", "", "",
        "movups xmm0, [rsi]",
        "movaps xmm, xmm/m128\n"
        "movaps m128, xmm\n"
        "\n"
        "movups xmm, xmm/m128\n"
        "movups m128, xmm\n"
        "\n"
        "movapd xmm, xmm/m128\n"
        "movapd m128, xmm\n"
        "\n"
        "movupd xmm, xmm/m128\n"
        "movupd m128, xmm",
        "movaps xmm, xmm/m128\n"
        "movaps m128, xmm\n"
        "\n"
        "movups xmm, xmm/m128\n"
        "movups m128, xmm\n"
        "\n"
        "movapd xmm, xmm/m128\n"
        "movapd m128, xmm\n"
        "\n"
        "movupd xmm, xmm/m128\n"
        "movupd m128, xmm",
    },
    {
        "movdqa", "sse", "movdqa,movdqu", "", "", "",
        "movdqu xmm0, [rsi]",
        "movdqa xmm, xmm/m128\n"
        "movdqa m128, xmm\n"
        "\n"
        "movdqu xmm, xmm/m128\n"
        "movdqu m128, xmm",
        "movdqa xmm, xmm/m128\n"
        "movdqa m128, xmm\n"
        "\n"
        "movdqu xmm, xmm/m128\n"
        "movdqu m128, xmm",
    },
    {
        "addsd", "sse", "addsd,addss", "", "", "",
        "addsd xmm0, xmm1",
        "addss xmm, xmm/m32\n"
        "addsd xmm, xmm/m64",
        "addss xmm, xmm/m32\n"
        "addsd xmm, xmm/m64",
    },
    {
        "subsd", "sse", "subsd,subss", "", "", "",
        "subsd xmm0, [rel value]",
        "subss xmm, xmm/m32\n"
        "subsd xmm, xmm/m64",
        "subss xmm, xmm/m32\n"
        "subsd xmm, xmm/m64",
    },
    {
        "mulsd", "sse", "mulsd,mulss", "", "", "",
        "mulsd xmm0, xmm0",
        "mulss xmm, xmm/m32\n"
        "mulsd xmm, xmm/m64",
        "mulss xmm, xmm/m32\n"
        "mulsd xmm, xmm/m64",
    },
    {
        "divsd", "sse", "divsd,divss", "", "", "",
        "divsd xmm0, xmm1",
        "divss xmm, xmm/m32\n"
        "divsd xmm, xmm/m64",
        "divss xmm, xmm/m32\n"
        "divsd xmm, xmm/m64",
    },
    {
        "sqrtsd", "sse", "sqrtsd,sqrtss", "", "", "",
        "sqrtsd xmm0, xmm0",
        "sqrtss xmm, xmm/m32\n"
        "sqrtsd xmm, xmm/m64",
        "sqrtss xmm, xmm/m32\n"
        "sqrtsd xmm, xmm/m64",
    },
    {
        "minsd", "sse", "minsd,maxsd,minss,maxss", "", "", "",
        "maxsd xmm0, xmm1",
        "minss xmm, xmm/m32\n"
        "maxss xmm, xmm/m32\n"
        "minsd xmm, xmm/m64\n"
        "maxsd xmm, xmm/m64",
        "minss xmm, xmm/m32\n"
        "maxss xmm, xmm/m32\n"
        "minsd xmm, xmm/m64\n"
        "maxsd xmm, xmm/m64",
    },
    {
        "addps", "sse", "addps,addpd,subps,subpd,mulps,mulpd,divps,divpd", "", "", "",
        "movups xmm0, [rel a]\n"
        "movups xmm1, [rel b]\n"
        "addps xmm0, xmm1",
        "addps xmm, xmm/m128\n"
        "addpd xmm, xmm/m128\n"
        "subps xmm, xmm/m128\n"
        "subpd xmm, xmm/m128\n"
        "mulps xmm, xmm/m128\n"
        "mulpd xmm, xmm/m128\n"
        "divps xmm, xmm/m128\n"
        "divpd xmm, xmm/m128",
        "addps xmm, xmm/m128\n"
        "addpd xmm, xmm/m128\n"
        "subps xmm, xmm/m128\n"
        "subpd xmm, xmm/m128\n"
        "mulps xmm, xmm/m128\n"
        "mulpd xmm, xmm/m128\n"
        "divps xmm, xmm/m128\n"
        "divpd xmm, xmm/m128",
    },
    {
        "cvtsi2sd", "sse", "cvtsi2sd,cvtsi2ss", "", "", "",
        "cvtsi2sd xmm0, rax",
        "cvtsi2ss xmm, r/m32\n"
        "\n"
        "cvtsi2ss xmm, r/m64\n"
        "\n"
        "cvtsi2sd xmm, r/m32\n"
        "\n"
        "cvtsi2sd xmm, r/m64",
        "cvtsi2ss xmm, r/m32\n"
        "\n"
        "cvtsi2sd xmm, r/m32",
    },
    {
        "cvttsd2si", "sse", "cvttsd2si,cvttss2si,cvtsd2si,cvtss2si", "", "", "",
        "cvttsd2si rax, xmm0",
        "cvttss2si r32, xmm/m32\n"
        "\n"
        "cvttss2si r64, xmm/m32\n"
        "\n"
        "cvttsd2si r32, xmm/m64\n"
        "\n"
        "cvttsd2si r64, xmm/m64\n"
        "\n"
        "cvtss2si r32, xmm/m32\n"
        "\n"
        "cvtss2si r64, xmm/m32\n"
        "\n"
        "cvtsd2si r32, xmm/m64\n"
        "\n"
        "cvtsd2si r64, xmm/m64",
        "cvttss2si r32, xmm/m32\n"
        "\n"
        "cvttsd2si r32, xmm/m64\n"
        "\n"
        "cvtss2si r32, xmm/m32\n"
        "\n"
        "cvtsd2si r32, xmm/m64",
    },
    {
        "cvtsd2ss", "sse", "cvtsd2ss,cvtss2sd", "", "", "",
        "cvtss2sd xmm0, xmm0",
        "cvtss2sd xmm, xmm/m32\n"
        "cvtsd2ss xmm, xmm/m64",
        "cvtss2sd xmm, xmm/m32\n"
        "cvtsd2ss xmm, xmm/m64",
    },
    {
        "ucomisd", "sse", "ucomisd,ucomiss,comisd,comiss", "", "", "ZF PF CF OF SF AF",
        "ucomisd xmm0, xmm1\n"
        "ja greater",
        "ucomiss xmm, xmm/m32\n"
        "comiss xmm, xmm/m32\n"
        "ucomisd xmm, xmm/m64\n"
        "comisd xmm, xmm/m64",
        "ucomiss xmm, xmm/m32\n"
        "comiss xmm, xmm/m32\n"
        "ucomisd xmm, xmm/m64\n"
        "comisd xmm, xmm/m64",
    },
    {
        "xorps", "sse", "xorps,xorpd,pxor", "", "", "",
        "xorps xmm0, xmm0",
        "xorps xmm, xmm/m128\n"
        "xorpd xmm, xmm/m128\n"
        "pxor xmm, xmm/m128",
        "xorps xmm, xmm/m128\n"
        "xorpd xmm, xmm/m128\n"
        "pxor xmm, xmm/m128",
    },
    {
        "andps", "sse", "andps,andpd,orps,orpd,andnps,andnpd", "", "", "",
        "andpd xmm0, [rel abs_mask]",
        "andps xmm, xmm/m128\n"
        "andpd xmm, xmm/m128\n"
        "orps xmm, xmm/m128\n"
        "orpd xmm, xmm/m128\n"
        "andnps xmm, xmm/m128\n"
        "andnpd xmm, xmm/m128",
        "andps xmm, xmm/m128\n"
        "andpd xmm, xmm/m128\n"
        "orps xmm, xmm/m128\n"
        "orpd xmm, xmm/m128\n"
        "andnps xmm, xmm/m128\n"
        "andnpd xmm, xmm/m128",
    },
    {
        "paddd", "sse", "paddb,paddw,paddd,paddq,psubb,psubw,psubd,psubq", "", "", "",
        "paddd xmm0, xmm1",
        "paddb xmm, xmm/m128\n"
        "paddw xmm, xmm/m128\n"
        "paddd xmm, xmm/m128\n"
        "paddq xmm, xmm/m128\n"
        "psubb xmm, xmm/m128\n"
        "psubw xmm, xmm/m128\n"
        "psubd xmm, xmm/m128\n"
        "psubq xmm, xmm/m128",
        "paddb xmm, xmm/m128\n"
        "paddw xmm, xmm/m128\n"
        "paddd xmm, xmm/m128\n"
        "paddq xmm, xmm/m128\n"
        "psubb xmm, xmm/m128\n"
        "psubw xmm, xmm/m128\n"
        "psubd xmm, xmm/m128\n"
        "psubq xmm, xmm/m128",
    },
    {
        "pcmpeqb", "sse", "pcmpeqb,pcmpeqw,pcmpeqd", "", "", "",
        "pcmpeqb xmm0, xmm1\n"
        "pmovmskb eax, xmm0",
        "pcmpeqb xmm, xmm/m128\n"
        "pcmpeqw xmm, xmm/m128\n"
        "pcmpeqd xmm, xmm/m128",
        "pcmpeqb xmm, xmm/m128\n"
        "pcmpeqw xmm, xmm/m128\n"
        "pcmpeqd xmm, xmm/m128",
    },
    {
        "pmovmskb", "sse", "pmovmskb,movmskps,movmskpd", "", "", "",
        "pmovmskb eax, xmm0",
        "pmovmskb r32, xmm\n"
        "movmskps r32, xmm\n"
        "movmskpd r32, xmm\n"
        "\n"
        "movmskps r64, xmm\n"
        "movmskpd r64, xmm",
        "pmovmskb r32, xmm\n"
        "movmskps r32, xmm\n"
        "movmskpd r32, xmm",
    },
    {
        "pshufd", "sse", "pshufd,shufps", "", "", "",
        "pshufd xmm0, xmm1, 0x1B",
        "pshufd xmm, xmm/m128, imm8\n"
        "shufps xmm, xmm/m128, imm8",
        "pshufd xmm, xmm/m128, imm8\n"
        "shufps xmm, xmm/m128, imm8",
    },
};

} // namespace refdata
