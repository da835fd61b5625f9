// The libraries only some runs need are loaded on their first use, not at
// every start: the window's (SDL, cairo, Pango, GLib, GIO, and the seventy
// libraries they pull in), the disassembler (Zydis), the sealing of files
// (libsodium) and the few maths functions the painting uses. A short
// headless run such as --build calls none of them, and loading them took
// most of its time.
//
// Each function the program calls has an entry of its own name here that
// jumps through a slot. The slot first points at a stub that loads the
// library, looks the function up, stores its address in the slot and goes
// on into it with the caller's arguments untouched; later calls jump
// straight there. The entries are hidden, so the loaded libraries still
// find each other's functions, not these.
#include <dlfcn.h>

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

enum Library {
    kSdl, kPangoCairo, kPango, kCairo, kGio, kGObject, kGLib, kZydis, kZycore, kSodium, kMath, kLibraryCount
};

const char* const kSonames[kLibraryCount] = {
    "libSDL2-2.0.so.0", "libpangocairo-1.0.so.0", "libpango-1.0.so.0", "libcairo.so.2",
    "libgio-2.0.so.0",  "libgobject-2.0.so.0",    "libglib-2.0.so.0",  "libZydis.so.4.0",
    "libZycore.so.1.4", "libsodium.so.23",        "libm.so.6",
};

void* g_handles[kLibraryCount];
std::mutex g_lock;

[[noreturn]] void cannot_continue(const char* what)
{
    // The call cannot be made and cannot be undone: say what is missing.
    std::fprintf(stderr, "qxferndockassembleride: %s\n", what ? what : "a library function is missing");
    std::fflush(stderr);
    _exit(127);
}

} // namespace

extern "C" {

struct QxLazyFunction {
    void** slot;
    const char* name;
    int library;
};

__attribute__((visibility("hidden"))) void* qx_lazy_resolve(QxLazyFunction* f)
{
    std::lock_guard<std::mutex> lock(g_lock);
    void*& handle = g_handles[f->library];
    if (!handle) {
        handle = dlopen(kSonames[f->library], RTLD_NOW | RTLD_GLOBAL);
        if (!handle)
            cannot_continue(dlerror());
    }
    void* address = dlsym(handle, f->name);
    if (!address)
        cannot_continue(dlerror());
    __atomic_store_n(f->slot, address, __ATOMIC_RELEASE);
    return address;
}

} // extern "C"

// The stub every slot starts at: r11 holds the function's record. Every
// register that can carry an argument (and al, the vector count of a
// variadic call) is kept across the lookup; the stack is left as the
// caller made it, so arguments on it reach the function as well.
asm(R"(
    .pushsection .text
    .p2align 4
    .hidden qx_lazy_common
    .type qx_lazy_common, @function
qx_lazy_common:
    push %rbp
    mov %rsp, %rbp
    and $-16, %rsp
    sub $192, %rsp
    mov %rdi, 0(%rsp)
    mov %rsi, 8(%rsp)
    mov %rdx, 16(%rsp)
    mov %rcx, 24(%rsp)
    mov %r8, 32(%rsp)
    mov %r9, 40(%rsp)
    mov %rax, 48(%rsp)
    mov %r10, 56(%rsp)
    movdqu %xmm0, 64(%rsp)
    movdqu %xmm1, 80(%rsp)
    movdqu %xmm2, 96(%rsp)
    movdqu %xmm3, 112(%rsp)
    movdqu %xmm4, 128(%rsp)
    movdqu %xmm5, 144(%rsp)
    movdqu %xmm6, 160(%rsp)
    movdqu %xmm7, 176(%rsp)
    mov %r11, %rdi
    call qx_lazy_resolve
    mov %rax, %r11
    mov 0(%rsp), %rdi
    mov 8(%rsp), %rsi
    mov 16(%rsp), %rdx
    mov 24(%rsp), %rcx
    mov 32(%rsp), %r8
    mov 40(%rsp), %r9
    mov 48(%rsp), %rax
    mov 56(%rsp), %r10
    movdqu 64(%rsp), %xmm0
    movdqu 80(%rsp), %xmm1
    movdqu 96(%rsp), %xmm2
    movdqu 112(%rsp), %xmm3
    movdqu 128(%rsp), %xmm4
    movdqu 144(%rsp), %xmm5
    movdqu 160(%rsp), %xmm6
    movdqu 176(%rsp), %xmm7
    mov %rbp, %rsp
    pop %rbp
    jmp *%r11
    .size qx_lazy_common, .-qx_lazy_common
    .popsection
)");

#define QX_LAZY_FUNCTION(library, name)                                                                   \
    extern "C" {                                                                                         \
    __attribute__((visibility("hidden"))) void qx_stub_##name();                                         \
    __attribute__((visibility("hidden"))) void* qx_slot_##name = reinterpret_cast<void*>(&qx_stub_##name); \
    __attribute__((visibility("hidden"))) QxLazyFunction qx_record_##name = { &qx_slot_##name, #name, library }; \
    }                                                                                                    \
    asm(".pushsection .text\n"                                                                           \
        ".globl " #name "\n"                                                                             \
        ".hidden " #name "\n"                                                                            \
        ".type " #name ", @function\n" #name ":\n"                                                       \
        "    jmp *qx_slot_" #name "(%rip)\n"                                                             \
        ".globl qx_stub_" #name "\n"                                                                     \
        ".hidden qx_stub_" #name "\n"                                                                    \
        "qx_stub_" #name ":\n"                                                                           \
        "    lea qx_record_" #name "(%rip), %r11\n"                                                      \
        "    jmp qx_lazy_common\n"                                                                        \
        ".popsection\n");
#include "library_functions.h"
#undef QX_LAZY_FUNCTION
