#pragma once
// Compiled-in tables of the built-in reference. Every field is a constant
// text; an empty text means the value is absent. The prose that explains a
// row lives in the translations, keyed by the row's id.
#include <cstddef>

namespace refdata {

// One instruction entry of the reference.
struct Insn {
    const char* id;      // unique key, also the suffix of its translation key
    const char* group;   // data, arith, logic, shift, bits, jump, stack, string, flags, system, sse
    const char* names;   // lower-case mnemonics separated by "," without blanks; the first is the main one
    const char* family;  // "cmov", "set" or "j" for a condition-code row, else empty
    const char* cc;      // condition suffix of a family row, else empty
    const char* flags;   // the flags it changes, blank-separated
    const char* example; // NASM code, lines separated by "\n"
    const char* forms64; // operand forms valid in 64-bit mode, one per line, groups separated by an empty line
    const char* forms32; // the same for 32-bit mode
};

inline constexpr std::size_t kInsnCount = 135;
extern const Insn kInsns[kInsnCount];

} // namespace refdata
