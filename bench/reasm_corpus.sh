#!/bin/sh
# Disassembly to source over a corpus built here with nasm, ld, gcc and, when
# installed, Free Pascal. Prints one line per program (outcome, instructions
# left as bytes, time) and the totals. C programs are rebuilt from the
# printed source and must print what the original prints.
#
# usage: bench/reasm_corpus.sh [path/to/qxferndockassembleride]
set -u

here=$(cd "$(dirname "$0")" && pwd)
exe=${1:-$here/../build/qxferndockassembleride}
[ -x "$exe" ] || { echo "no executable at $exe" >&2; exit 1; }
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

work=$(mktemp -d /tmp/reasm-corpus.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# A private work directory, so that other runs cannot touch the rebuilds.
export XDG_RUNTIME_DIR="$work"

have() { command -v "$1" >/dev/null 2>&1; }
ms() { date +%s%N | cut -c1-13; }

verified=0 rebuilt=0 failed=0 total=0

# convert NAME KIND FILE [bits base]: KIND is "nasm" (must verify with no
# instruction left as bytes), "c" (must be rebuilt and print the same
# output) or "c32" (rebuilt only).
convert() {
    name=$1 kind=$2 file=$3
    shift 3
    t0=$(ms)
    "$exe" --disasm-source "$file" "$@" > "$name.src"
    code=$?
    t1=$(ms)
    summary=$(tail -n 1 "$name.src")
    asdb=$(echo "$summary" | sed -n 's/.*, \([0-9]*\) as db.*/\1/p')
    why=$(echo "$summary" | sed -n 's/.*why: //p')
    total=$((total + 1))
    result=FAIL
    case $kind in
        nasm)
            if [ $code -eq 0 ] && [ "$asdb" = 0 ]; then result=verified; verified=$((verified + 1)); fi ;;
        c|c32)
            if [ "$why" = rebuilt ]; then
                result=rebuilt
                if [ $kind = c ]; then
                    if nasm -f elf64 "$name.src" -o "$name.r.o" 2>/dev/null &&
                        gcc -no-pie -o "$name.r" "$name.r.o" 2>/dev/null &&
                        ./"$name.r" > "$name.r.out" 2>&1 && cmp -s "$name.r.out" "$name.expect"; then
                        result="rebuilt, same output"
                    else
                        result="rebuilt, OUTPUT DIFFERS"
                    fi
                fi
            fi
            case $result in rebuilt*DIFFERS|FAIL) ;; *) rebuilt=$((rebuilt + 1)) ;; esac ;;
    esac
    case $result in FAIL|*DIFFERS) failed=$((failed + 1)) ;; esac
    printf '%-16s %-26s as db %-4s %6d ms  %s\n' "$name" "$result" "${asdb:-?}" $((t1 - t0)) "$why"
}

nasm_elf() { # name format source-file [ld args...]
    n=$1 f=$2 s=$3
    shift 3
    nasm -f "$f" "$s" -o "$n.o" && ld "$@" -o "$n" "$n.o"
}

cat > elf64.asm <<'EOF'
bits 64
global _start
section .text
_start:
    lea rsi, [rel msg]
    mov edx, len
    mov eax, 1
    mov edi, 1
    syscall
    mov eax, 2
    lea rbx, [rel table]
    jmp [rbx + rax*8]
case0: mov edi, 10
    jmp done
case1: mov edi, 11
    jmp done
case2: mov edi, 0
done:
    mov eax, 60
    syscall
section .rodata
table: dq case0, case1, case2
section .data
msg: db "corpus", 10
len equ $ - msg
count: dd 0
section .bss
buf: resb 128
EOF
nasm_elf elf64 elf64 elf64.asm && convert elf64-table nasm elf64

cat > elf32.asm <<'EOF'
bits 32
global _start
section .text
_start:
    mov eax, 1
    jmp [table + eax*4]
one:
    mov ecx, msg
    call print
two:
    mov eax, 1
    xor ebx, ebx
    int 0x80
print:
    mov eax, 4
    mov ebx, 1
    mov edx, 7
    int 0x80
    ret
section .data
msg: db "corpus", 10
table: dd two, one
EOF
nasm_elf elf32 elf32 elf32.asm -m elf_i386 && convert elf32-table nasm elf32

cat > plt64.asm <<'EOF'
bits 64
global _start
extern printf, exit
section .text
_start:
    lea rdi, [rel fmt]
    mov esi, 42
    xor eax, eax
    call printf wrt ..plt
    xor edi, edi
    call exit wrt ..plt
section .data
fmt: db "%d", 10, 0
EOF
if [ -e /lib64/ld-linux-x86-64.so.2 ]; then
    nasm_elf plt64 elf64 plt64.asm -lc -dynamic-linker /lib64/ld-linux-x86-64.so.2 && convert elf64-printf nasm plt64
fi

cat > plt32.asm <<'EOF'
bits 32
global _start
extern printf, exit
section .text
_start:
    push 42
    push fmt
    call printf
    add esp, 8
    push 0
    call exit
section .data
fmt: db "%d", 10, 0
EOF
if [ -e /lib/ld-linux.so.2 ] && { [ -d /usr/lib32 ] || [ -d /usr/lib/i386-linux-gnu ]; }; then
    nasm_elf plt32 elf32 plt32.asm -m elf_i386 -lc -dynamic-linker /lib/ld-linux.so.2 2>/dev/null &&
        convert elf32-printf nasm plt32
fi

cat > com.asm <<'EOF'
bits 16
org 0x100
    mov ah, 9
    mov dx, msg
    int 0x21
    mov cx, 3
again:
    loop again
    call near sub1
    mov ax, 0x4c00
    int 0x21
sub1:
    ret
msg: db "corpus$"
EOF
nasm -f bin com.asm -o prog.com && convert com nasm prog.com

cp "$here/../tests/cases/disasm-source/boot.asm" boot.asm
nasm -f bin boot.asm -o boot.bin && convert boot-sector nasm boot.bin 16 0x7c00

cat > raw64.asm <<'EOF'
bits 64
org 0x1000
    mov rcx, 10
    xor eax, eax
.l: add rax, rcx
    loop .l
    mov rbx, 0x1122334455667788
    call f
    ret
f:  lea rdx, [rel data]
    ret
data: dq 1, 2, 3
EOF
nasm -f bin raw64.asm -o raw64.bin && convert raw64 nasm raw64.bin 64 0x1000

cat > raw32.asm <<'EOF'
bits 32
org 0x8000
    mov esi, data
    mov ecx, 4
.l: lodsb
    loop .l
    ret
data: db 1, 2, 3, 4
EOF
nasm -f bin raw32.asm -o raw32.bin && convert raw32 nasm raw32.bin 32 0x8000

if have fpc; then
    printf "program p;\nvar i: integer;\nbegin\n  for i := 1 to 3 do writeln('line ', i);\nend.\n" > fp.pas
    fpc -ofp fp.pas >/dev/null 2>&1 && convert fpc-static nasm fp
fi

if have gcc; then
    cat > c.c <<'EOF'
#include <stdio.h>
#include <string.h>
static const char *names[] = { "zero", "one", "two", "three", "four", "five", "six" };
int table[16] = { 1, 2, 3, 4, 5 };
char buf[100];
int classify(int x) {
    switch (x) {
    case 0: return 10; case 1: return 22; case 2: return 37; case 3: return 41;
    case 4: return 59; case 5: return 61; case 6: return 77; default: return -1;
    }
}
int main(void) {
    int s = 0;
    for (int i = 0; i < 7; i++) { s += classify(i) * table[i % 16]; printf("%s %d\n", names[i], classify(i)); }
    strcpy(buf, "done");
    printf("%s %d %d\n", buf, s, (int)strlen(buf));
    return 0;
}
EOF
    for v in pie:-O0 no-pie:-no-pie O2:-O2 O2-no-pie-s:"-O2 -no-pie -s" static:-static static-O2:"-O2 -static"; do
        n=c-${v%%:*}
        if gcc ${v#*:} -o "$n" c.c 2>/dev/null; then
            ./"$n" > "$n.expect"
            convert "$n" c "$n"
        fi
    done
    if gcc -m32 -fno-pie -no-pie -o c-m32 c.c 2>/dev/null; then
        convert c-m32-no-pie c32 c-m32
    fi
fi

# ---- wider corpus: vector code, C++, adjacent jump tables, alternative
# encodings. Each printed source is built again with only "--build" and the
# options the result states, and the rebuilt program must behave the same
# (same output and exit code). ----
# build_opts SRC: the "--build" options for a printed source, one a line:
# through cc with the needed libraries for a compiled program.
build_opts() {
    libs=$(sed -n 's/^; Libraries: \(.*\) — .*/\1/p' "$1" | tr -d ',' | tr ' ' '\n' |
        sed -n 's/^lib\([^.]*\)\.so.*/\1/p' | tr '\n' ' ')
    case $(tail -n 1 "$1") in *rebuilt*) echo --crt ;; esac
    if [ -n "$libs" ]; then echo --libs; echo "$libs"; fi
}
behaves() { # original rebuilt: same output and exit code
    "./$1" > "$1.out1" 2>&1; c1=$?
    "./$2" > "$2.out2" 2>&1; c2=$?
    [ $c1 -eq $c2 ] && cmp -s "$1.out1" "$2.out2"
}
wide_total=0 wide_same=0
wide() { # name file
    name=$1 file=$2
    t0=$(ms)
    "$exe" --disasm-source "$file" > "$name.asm" 2>/dev/null
    t1=$(ms)
    summary=$(tail -n 1 "$name.asm")
    asdb=$(echo "$summary" | sed -n 's/.*, \([0-9]*\) as db.*/\1/p')
    result="NOT REBUILT"
    if (IFS='
'; exec "$exe" --build "$name.asm" $(build_opts "$name.asm")) > "$name.build" 2>&1 && [ -x "$name" ]; then
        if behaves "$file" "$name"; then result="same behaviour"; else result="BEHAVES DIFFERENTLY"; fi
    fi
    wide_total=$((wide_total + 1))
    total=$((total + 1))
    case $result in "same behaviour") wide_same=$((wide_same + 1)) ;; *) failed=$((failed + 1)) ;; esac
    case $summary in "; == VERIFIED"*) verified=$((verified + 1)) ;; *rebuilt*) rebuilt=$((rebuilt + 1)) ;; esac
    printf '%-20s %-20s as db %-4s %6d ms  %s\n' "$name" "$result" "${asdb:-?}" $((t1 - t0)) \
        "$(echo "$summary" | sed 's/^; == //')"
}

cat > altenc.asm <<'EOF'
bits 64
global _start
section .text
_start:
    db 0x81, 0xC1, 0x02, 0x00, 0x00, 0x00     ; add ecx, strict dword 2
    db 0x8B, 0x44, 0x24, 0x00                 ; mov eax, [byte rsp+0]
    db 0x8B, 0x84, 0x24, 0x08, 0x00, 0x00, 0x00 ; mov eax, [dword rsp+8]
    db 0x66, 0x81, 0xC2, 0x01, 0x00           ; add dx, strict word 1
    db 0xC1, 0xE1, 0x01                       ; shl ecx, byte 1
    db 0x0F, 0x1F, 0x44, 0x00, 0x00           ; nop dword [byte rax+rax+0]
    db 0x0F, 0x1F, 0x80, 0x00, 0x00, 0x00, 0x00 ; nop dword [dword rax+0]
    db 0x66, 0x90                             ; o16 nop
    db 0xF2, 0x90                             ; repne nop
    db 0x3E, 0x8B, 0x04, 0x24                 ; ds mov eax, [rsp]
    db 0x48, 0xC7, 0xC7, 0x07, 0x00, 0x00, 0x00 ; mov rdi, strict dword 7
    db 0x8B, 0xC7                             ; mov eax, edi in its other form: no spelling
    mov edi, eax
    mov eax, 60
    syscall
EOF
nasm_elf altenc elf64 altenc.asm && wide nasm-altenc altenc

if have gcc; then
    cat > avx.c <<'EOF'
#include <stdio.h>
static float a[1024] __attribute__((aligned(32))), b[1024] __attribute__((aligned(32)));
static double big[512] __attribute__((aligned(64)));
int main(void) {
    for (int i = 0; i < 1024; i++) { a[i] = i * 0.5f; b[i] = 1024 - i; }
    for (int r = 0; r < 100; r++) for (int i = 0; i < 1024; i++) a[i] = a[i] * 0.99f + b[i];
    for (int i = 0; i < 512; i++) big[i] = a[i] + a[1023 - i];
    double s = 0; for (int i = 0; i < 512; i++) s += big[i];
    printf("%.3f\n", s);
    return 0;
}
EOF
    gcc -O3 -mavx2 -o c-avx2 avx.c 2>/dev/null && wide c-O3-avx2 c-avx2
    gcc -O3 -mavx2 -no-pie -o c-avx2-np avx.c 2>/dev/null && wide c-O3-avx2-nopie c-avx2-np
    cp "$here/../tests/data/reasm/two_switches.c" sw.c
    gcc -O2 -fno-tree-switch-conversion -o c-2tables sw.c 2>/dev/null && wide c-two-tables c-2tables
    gcc -O2 -fno-tree-switch-conversion -no-pie -o c-2tables-np sw.c 2>/dev/null &&
        wide c-two-tables-nopie c-2tables-np
    gcc -O0 -o c-2tables-O0 sw.c 2>/dev/null && wide c-two-tables-O0 c-2tables-O0
fi
if have g++; then
    cat > io.cpp <<'EOF'
#include <iostream>
#include <string>
#include <vector>
static std::string greeting = "static string";
int main() {
    std::vector<std::string> words = { "alpha", "beta", "gamma" };
    std::string joined;
    for (const auto& w : words) joined += w + "-";
    std::cout << greeting << ' ' << joined << ' ' << joined.size() << std::endl;
    return 0;
}
EOF
    g++ -O2 -o cxx-io io.cpp 2>/dev/null && wide cxx-iostream-O2 cxx-io
    g++ -O0 -o cxx-io-O0 io.cpp 2>/dev/null && wide cxx-iostream-O0 cxx-io-O0
fi
echo "wider corpus: $wide_total programs, $wide_same rebuilt with --build alone and behave the same"
# ---- end of the wider corpus ----

echo "programs: $total, verified: $verified, rebuilt: $rebuilt, failed: $failed"
[ $failed -eq 0 ]
