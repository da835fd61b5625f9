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

// One NASM directive entry.
struct Directive {
    const char* id;      // unique key, also the suffix of its translation key
    const char* names;   // the spellings it explains, separated by "," without blanks
    const char* example; // NASM code, lines separated by "\n"
};

inline constexpr std::size_t kDirectiveCount = 23;
extern const Directive kDirectives[kDirectiveCount];

// One Linux system call in the x86-64 and the i386 numbering.
struct Syscall {
    const char* name;
    int nr64;            // x86-64 number, -1 when the call has none there
    int nr32;            // i386 number (int 0x80), -1 when none
    const char* args;    // C parameter list; null when not recorded, empty for none
    const char* args32;  // the i386 call's own list, null when it equals args
    bool obsolete;       // only the number is left; the kernel answers -ENOSYS
};

inline constexpr std::size_t kSyscallCount = 472;
extern const Syscall kSyscalls[kSyscallCount];

// One Linux error code.
struct Errno {
    const char* name;    // upper case, "ENOENT"
    int nr;              // positive error number
    const char* alias;   // empty, or the name of the row whose number this one shares
};

inline constexpr std::size_t kErrnoCount = 135;
extern const Errno kErrnos[kErrnoCount];

} // namespace refdata
