#pragma once
// Decoding x86 machine code (16, 32 and 64 bit) into NASM-syntax text
// with flow facts and, on request, operand records.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dis {

struct Operand {
    enum Kind : int {
        Reg = 0,
        Mem = 1,
        Imm = 2,
        Other = 3,
    };

    Kind kind = Other;
    std::string reg;   // register operand: its name
    std::string reg64; // widest register containing it in the decoding mode
    int shift = 0;     // 8 for ah, ch, dh, bh
    std::string base;  // memory operand: widened base register ("rip"/"eip" for the instruction pointer)
    std::string index; // memory operand: widened index register
    std::string seg;   // "fs" or "gs" when used, else empty
    int scale = 1;
    int64_t disp = 0;
    bool rip = false;  // relative to the instruction pointer, with `abs` computed
    uint64_t abs = 0;
    int size = 0;      // bytes
    bool read = false;
    bool write = false;
    bool visible = false;
};

struct Insn {
    uint64_t addr = 0;
    uint8_t len = 1;
    uint8_t bytes[15] = {};
    bool valid = false;
    std::string text;
    bool is_call = false;
    bool is_jump = false;
    bool is_ret = false;
    bool has_target = false;
    uint64_t target = 0;
    std::vector<Operand> ops;
    std::string isa;
    int addr_bits = 64;
    bool has_mem = false;
    uint64_t mem = 0;
};

// Decodes one instruction at `addr`; bits is 16, 32 or 64 (anything else
// counts as 64). The record is reset first. An undecodable byte gives
// valid == false, len 1 and "db 0xNN"; n == 0 gives len 0. The text names
// every size and segment a prefix carries (o16 ret, a32 lodsd, gs movsd,
// push word 0x5); an instruction NASM has no spelling for is valid with the
// text "db 0x66, 0x0F, 0xC8 ; bswap ax": its bytes, then its meaning.
void decode(const uint8_t* bytes, size_t n, uint64_t addr, int bits, Insn* out, bool with_operands = false);

// Linear sweep of at most `max` instructions; always advances.
std::vector<Insn> sweep(const uint8_t* bytes, size_t n, uint64_t addr, int bits, size_t max);

// The instruction's text in a form that NASM assembles back to the same
// bytes wherever the line is placed. NASM encodes [rel 0x2000] with a plain
// number as an absolute address, so a RIP-relative number becomes an offset
// from the instruction's start: [rel $+0xFF9]. Branch targets become
// `$`-relative too, with "short" or "near" as encoded, because NASM takes a
// plain number for a target outside the section and always uses the long form.
std::string asm_text(const Insn& insn);

// Upper-case hex pairs of at most `max` bytes, then "…" when cut.
std::string hex_bytes(const Insn& insn, size_t max);
// The same text written to `out`, which holds 2 * min(max, 15) + 3 bytes;
// returns its length.
size_t hex_bytes(const Insn& insn, size_t max, char* out);

namespace detail {

// Common instructions are formatted directly from the decoded fields instead
// of through Zydis's formatter. When the direct path handles the bytes, this
// gives both texts so tests can prove they agree (say, after a Zydis update);
// false when only the formatter path applies.
bool both_formats(const uint8_t* bytes, size_t n, uint64_t addr, int bits, std::string* direct,
                  std::string* general);

} // namespace detail

} // namespace dis
