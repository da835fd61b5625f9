#!/bin/sh
# Disassembly to source over a corpus built here with nasm, ld, gcc, g++ and,
# when installed, Free Pascal. Every printed source is built again with the
# options its heading prints, using only "--build", and checked:
#   VERIFIED  => every loaded section byte-identical, the same entry and
#                loadable segments, and the program behaves the same (output and
#                exit code; flat files are compared whole)
#   "rebuilt" => the program behaves the same
# Prints one line per program (outcome, instructions left as bytes, time,
# rebuild check) and the totals.
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

# The value of one option in the heading's "Build it with these options:"
# line, without the quotes.
printed_option() { # source-file option
    sed -n 's/^; Build it with these options: //p' "$1" | sed -n "s/.*$2 \"\([^\"]*\)\".*/\1/p"
}

# Builds NAME.src with its printed options into NAME.r (or NAME.r.bin).
rebuild_printed() { # name
    cp "$1.src" "$1.r.asm"
    crt=
    grep -q '^; Build it with these options: .*--crt' "$1.src" && crt=--crt
    "$exe" --build "$1.r.asm" --libs "$(printed_option "$1.src" --libs)" \
        --libdirs "$(printed_option "$1.src" --libdirs)" --ldflags "$(printed_option "$1.src" --ldflags)" \
        $crt > "$1.r.log" 2>&1
}

# Allocated sections: name type address offset size flags.
alloc_sections() {
    readelf -SW "$1" 2>/dev/null | awk '/^ *\[ *[0-9]+\]/ { sub(/^ *\[ *[0-9]+\] */, "");
        if ($2 != "NULL" && $7 ~ /A/) print $1, $2, $3, $4, $5, $7 }'
}

bytes_of() { # file offset size (hex)
    dd if="$1" bs=65536 iflag=skip_bytes,count_bytes skip=$((0x$2)) count=$((0x$3)) status=none
}

# Every allocated section of the original at the same address with the
# same bytes (size, type and flags for zero-filled ones) in the rebuild, and
# the same loadable, thread-local and stack segments (address, memory size,
# permissions).
same_loaded() { # original rebuilt
    alloc_sections "$2" > rebuilt.secs
    alloc_sections "$1" | while read -r name type addr off size flags; do
        other=$(awk -v n="$name" -v a="$addr" '$1 == n && $3 == a' rebuilt.secs)
        [ -n "$other" ] || { echo "$name missing"; return 1; }
        set -- $other
        [ "$type" = "$2" ] && [ "$flags" = "$6" ] && [ $((0x$size)) -eq $((0x$5)) ] || { echo "$name header"; return 1; }
        if [ "$type" != NOBITS ]; then
            bytes_of "$orig_file" "$off" "$size" > a.bytes
            bytes_of "$rebuilt_file" "$4" "$5" > b.bytes
            cmp -s a.bytes b.bytes || { echo "$name bytes"; return 1; }
        fi
    done || return 1
    # Offsets in the file do not change the memory; the alignment and the
    # sizes are what the loader reads.
    segs() { readelf -lW "$1" | awk '/^Entry/ || $1 == "LOAD" || $1 == "TLS" || $1 ~ /^GNU_(STACK|RELRO)$/ { $2 = ""; print }'; }
    [ "$(segs "$1")" = "$(segs "$2")" ] || { echo "segments"; return 1; }
}

# Runs the program under one name (tools print their own), with the
# arguments in $args and a few lines on standard input.
printf 'first line\nsecond line\n' > input.txt
behaviour() { # program
    mkdir -p run && cp "$1" run/prog
    (cd run && timeout 10 ./prog $args < ../input.txt > ../"$1.stdout" 2>&1; echo "exit $?" >> ../"$1.stdout")
    cat "$1.stdout"
}
args=

# convert NAME KIND FILE [bits base]: KIND is "nasm" (must verify, and the
# rebuild must load and behave the same; instructions left as bytes are
# counted in the table), "nasm32" (likewise, but 32-bit programs cannot run here), "flat"
# (must verify; the rebuilt file must equal the original), "c" (must be
# rebuilt and behave the same) or "c32" (rebuilt only).
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
    result=FAIL check=-
    case $kind in
        nasm|nasm32|flat)
            if [ $code -eq 0 ]; then
                result=verified
                orig_file=$file rebuilt_file=$name.r
                if ! rebuild_printed "$name"; then
                    result="VERIFIED, REBUILD FAILS"
                elif [ $kind = flat ]; then
                    cmp -s "$file" "$name.r.bin" && check="same bytes" || result="VERIFIED, BYTES DIFFER"
                elif ! diff=$(same_loaded "$file" "$name.r"); then
                    result="VERIFIED, LOADS DIFFERENT: $diff"
                elif [ $kind = nasm32 ]; then
                    check="same sections (32-bit: not run)"
                elif [ "$(behaviour "$file")" = "$(behaviour "$name.r")" ]; then
                    check="same sections and behaviour"
                else
                    result="VERIFIED, BEHAVES DIFFERENTLY"
                fi
                case $result in verified) verified=$((verified + 1)) ;; esac
            fi ;;
        c|c32)
            if [ "$why" = rebuilt ]; then
                result=rebuilt
                if [ $kind = c ]; then
                    if rebuild_printed "$name" && [ "$(behaviour "$file")" = "$(behaviour "$name.r")" ]; then
                        check="same behaviour"
                    else
                        result="rebuilt, BEHAVES DIFFERENTLY"
                    fi
                fi
            fi
            case $result in rebuilt*DIFFER*|FAIL) ;; *) rebuilt=$((rebuilt + 1)) ;; esac ;;
    esac
    case $result in verified|rebuilt) ;; *) failed=$((failed + 1)) ;; esac
    printf '%-18s %-30s as db %-4s %6d ms  %-30s %s\n' "$name" "$result" "${asdb:-?}" $((t1 - t0)) "$check" "$why"
}

nasm_elf() { # name format source-file [ld args...]
    n=$1 f=$2 s=$3
    shift 3
    nasm -f "$f" "$s" -o "$n.o" && ld -o "$n" "$n.o" "$@"
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
nasm_elf elf32 elf32 elf32.asm -m elf_i386 && convert elf32-table nasm32 elf32

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
        convert elf32-printf nasm32 plt32
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
nasm -f bin com.asm -o prog.com && convert com flat prog.com

cp "$here/../tests/cases/disasm-source/boot.asm" boot.asm
nasm -f bin boot.asm -o boot.bin && convert boot-sector flat boot.bin 16 0x7c00

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
nasm -f bin raw64.asm -o raw64.bin && convert raw64 flat raw64.bin 64 0x1000

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
nasm -f bin raw32.asm -o raw32.bin && convert raw32 flat raw32.bin 32 0x8000

cp "$here/../tests/cases/disasm-source/boot07c0.asm" boot07c0.asm
nasm -f bin boot07c0.asm -o boot07c0.bin && convert boot-07c0 flat boot07c0.bin 16 0x7c00

# Placement, alignment, notes and thread-local data that plain ld and
# NASM's defaults would change.
cat > layout.asm <<'EOF'
bits 64
global _start
section .text
_start:
    mov eax, [rel val]
    add eax, [rel val2]
    mov edi, eax
    mov eax, 60
    syscall
section .rodata
val2: dd 3
section .data
val: dd 39
EOF
nasm -f elf64 layout.asm -o layout.o
for v in ttext:-Ttext=0x500000 ttext-odd:-Ttext=0x401234 tdata-page:-Tdata=0x401800 n:-N \
    tt-td:"-Ttext=0x600000 -Tdata=0x700123"; do
    ld ${v#*:} -o "layout-${v%%:*}" layout.o 2>/dev/null && convert "ld-${v%%:*}" nasm "layout-${v%%:*}"
done

cat > aligned.asm <<'EOF'
bits 64
global _start
section .note.corpus note alloc noexec nowrite align=4
    dd 7, 4, 1
    db "corpus", 0, 0
    dd 42
section .text
_start:
    lea rsi, [rel msg]
    mov edx, 6
    mov eax, 1
    mov edi, 1
    syscall
    vmovdqa ymm0, [rel wide]
    vmovdqa [rel buf], ymm0
    mov edi, [rel buf + 4]
    mov eax, 60
    syscall
section .rodata align=32
    db 1
align 32
wide: dd 1, 2, 3, 4, 5, 6, 7, 8
section .data align=64
    db 2
align 64
msg: db "align", 10
section .bss align=64
    resb 5
alignb 64
buf: resb 64
EOF
# The program runs only where the processor has AVX.
if grep -q ' avx' /proc/cpuinfo; then
    nasm_elf aligned elf64 aligned.asm && convert nasm-align-32-64 nasm aligned
fi

cat > tls.asm <<'EOF'
bits 64
global _start
section .note.tag note alloc noexec nowrite align=4
    dd 4, 4, 1
    db "QXT", 0
    dd 7
section .text
_start:
    mov edi, [rel after]
    mov eax, 60
    syscall
section .tdata progbits alloc noexec write tls align=32
    dq 5
section .tbss nobits alloc noexec write tls align=64
    resb 24
section .data
after: dd 3
section .bss align=32
    resb 40
EOF
nasm_elf tls elf64 tls.asm && convert nasm-tls-notes nasm tls

if have fpc; then
    printf "program p;\nvar i: integer;\nbegin\n  for i := 1 to 3 do writeln('line ', i);\nend.\n" > fp.pas
    fpc -ofp fp.pas >/dev/null 2>&1 && convert fpc-static nasm fp
    fpc -O2 -ofp4 fp.pas >/dev/null 2>&1 && convert fpc-O2 nasm fp4
    cat > fp2.pas <<'EOF'
program records;
type TPoint = record x, y: longint; end;
var pts: array[1..5] of TPoint; i: integer; s: ansistring;
threadvar counter: longint;
begin
  for i := 1 to 5 do begin pts[i].x := i * i; pts[i].y := 10 - i; inc(counter, pts[i].x); end;
  s := 'sum ';
  writeln(s, counter, ' last ', pts[5].x, ',', pts[5].y);
end.
EOF
    fpc -ofp2 fp2.pas >/dev/null 2>&1 && convert fpc-records-tls nasm fp2
    cat > fp3.pas <<'EOF'
program units;
uses sysutils, strutils;
var i: integer;
begin
  writeln(Format('%d-%s', [42, UpperCase('pascal')]));
  writeln(ReverseString('corpus'), ' ', IntToHex(48879, 4));
  for i := 1 to 3 do write(IntToStr(i * 11), ';');
  writeln;
end.
EOF
    fpc -ofp3 fp3.pas >/dev/null 2>&1 && convert fpc-sysutils nasm fp3
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
    cat > avx.c <<'EOF'
#include <stdio.h>
#include <stdint.h>
_Alignas(64) static int in[64];
_Alignas(32) int out[64];
_Alignas(32) const int k[8] = { 1, 2, 3, 4, 5, 6, 7, 8 };
static int ready;
__attribute__((constructor)) static void setup(void) { ready = 42; for (int i = 0; i < 64; i++) in[i] = i; }
__attribute__((destructor)) static void done(void) { printf("bye %d\n", ready); }
int main(void) {
    for (int i = 0; i < 64; i++) out[i] = in[i] * k[i % 8] + ready;
    long s = 0;
    for (int i = 0; i < 64; i++) s += out[i];
    printf("%ld %d %d %d\n", s, (int)((uintptr_t)in % 64), (int)((uintptr_t)out % 32), (int)((uintptr_t)k % 32));
    return 0;
}
EOF
    if grep -q ' avx2' /proc/cpuinfo; then
        gcc -O3 -mavx2 -o c-avx2 avx.c 2>/dev/null && convert c-O3-avx2-ctors c c-avx2
        gcc -O3 -mavx2 -no-pie -o c-avx2-nopie avx.c 2>/dev/null && convert c-O3-avx2-no-pie c c-avx2-nopie
    fi
    cat > tls.c <<'EOF'
#include <stdio.h>
__thread int counter = 5;
__thread _Alignas(64) char big[100];
int main(void) { counter += 2; big[3] = 'x'; printf("%d %c %d\n", counter, big[3], (int)((unsigned long)big % 64)); return 0; }
EOF
    gcc -O2 -o c-tls tls.c 2>/dev/null && convert c-thread-locals c c-tls
    # No C runtime: the source is NASM's, with gcc's build-id and unwind tables.
    printf 'void _start(void) { __asm__ volatile("mov $60, %%%%eax; mov $7, %%%%edi; syscall" ::: "memory"); }\n' > bare.c
    gcc -O2 -nostdlib -static -o c-nostdlib bare.c 2>/dev/null && convert c-nostdlib-static nasm c-nostdlib
    if gcc -m32 -fno-pie -no-pie -o c-m32 c.c 2>/dev/null; then
        convert c-m32-no-pie c32 c-m32
    fi
fi

if have g++; then
    cat > ctor.cpp <<'EOF'
#include <cstdio>
struct Counter { int v; Counter() : v(42) {} ~Counter() { std::printf("end %d\n", v); } };
Counter counter;
static Counter second;
int main() { std::printf("%d %d\n", counter.v + 1, second.v); return 0; }
EOF
    g++ -O1 -o cpp-ctor ctor.cpp 2>/dev/null && convert cpp-static-ctors c cpp-ctor
    g++ -O2 -no-pie -s -o cpp-ctor-s ctor.cpp 2>/dev/null && convert cpp-ctors-nopie-s c cpp-ctor-s
    cat > ios.cpp <<'EOF'
#include <iostream>
#include <string>
static std::string greeting = "hello from a static string";
int main() { std::cout << greeting << " " << greeting.size() << std::endl; return 0; }
EOF
    g++ -O2 -o cpp-iostream ios.cpp 2>/dev/null && convert cpp-iostream c cpp-iostream
fi

# Vector code, C++ with iostreams, adjacent jump tables and instructions
# written as bytes in encodings NASM has spellings for.
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
nasm_elf altenc elf64 altenc.asm && convert nasm-altenc nasm altenc

if have gcc; then
    cat > avx-float.c <<'EOF'
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
    if grep -q ' avx2' /proc/cpuinfo; then
        gcc -O3 -mavx2 -o c-avx2-f avx-float.c 2>/dev/null && convert c-O3-avx2 c c-avx2-f
        gcc -O3 -mavx2 -no-pie -o c-avx2-f-np avx-float.c 2>/dev/null && convert c-O3-avx2-nopie c c-avx2-f-np
    fi
    cp "$here/../tests/data/reasm/two_switches.c" sw.c
    gcc -O2 -fno-tree-switch-conversion -o c-2tables sw.c 2>/dev/null && convert c-two-tables c c-2tables
    gcc -O2 -fno-tree-switch-conversion -no-pie -o c-2tables-np sw.c 2>/dev/null &&
        convert c-two-tables-nopie c c-2tables-np
    gcc -O0 -o c-2tables-O0 sw.c 2>/dev/null && convert c-two-tables-O0 c c-2tables-O0
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
    g++ -O2 -o cxx-io io.cpp 2>/dev/null && convert cxx-iostream-O2 c cxx-io
    g++ -O0 -o cxx-io-O0 io.cpp 2>/dev/null && convert cxx-iostream-O0 c cxx-io-O0
fi
# Numbers inside a position-independent program's own address range,
# C++ type information (relocations with addends), function-pointer tables
# in static programs, 32-bit copy relocations, weak imports of stripped
# programs, static C++ and static PIE programs.
if have gcc; then
    cat > pienum.c <<'EOF'
#include <stdio.h>
#include <stdlib.h>
static char big[70000] = { 1 };
int main(int argc, char **argv) {
    unsigned x = argc + 4200;
    unsigned y = (unsigned)atoi(argc > 5 ? argv[1] : "7") * 0xffff;
    big[argc * 100] = 3;
    printf("%u %u %d\n", x * 4391, y + 0x1100, big[100] + big[0]);
    return 0;
}
EOF
    gcc -O2 -o c-pie-numbers pienum.c && convert c-pie-numbers c c-pie-numbers
    gcc -Os -s -o c-pie-Os-s pienum.c && convert c-pie-Os-stripped c c-pie-Os-s
    if grep -q ' avx2' /proc/cpuinfo && grep -q ' fma' /proc/cpuinfo; then
        gcc -O3 -mavx2 -mfma -o c-pie-fma pienum.c && convert c-pie-O3-fma c c-pie-fma
    fi
    cat > fptab.c <<'EOF'
#include <stdio.h>
#include <string.h>
static int add(int a, int b) { return a + b; }
static int sub(int a, int b) { return a - b; }
static int mul(int a, int b) { return a * b; }
static int (*const ops[])(int, int) = { add, sub, mul };
struct cmd { const char *name; int (*fn)(int, int); };
static struct cmd cmds[] = { { "add", add }, { "sub", sub }, { "mul", mul } };
int main(int argc, char **argv) {
    int s = 0;
    for (int i = 0; i < 3; i++) s += ops[(i + argc) % 3](7, i + 2);
    for (int i = 0; i < 3; i++) if (strcmp(cmds[i].name, argc > 1 ? argv[1] : "mul") == 0) s += cmds[i].fn(5, 6);
    printf("%d\n", s);
    return 0;
}
EOF
    gcc -O2 -static -o c-fptab-static fptab.c 2>/dev/null && convert c-fptab-static c c-fptab-static
    gcc -O2 -static-pie -o c-fptab-spie fptab.c 2>/dev/null && convert c-fptab-static-pie c c-fptab-spie
    # Library functions taken as pointers, in a table and as an operand: at
    # a fixed address their PLT stubs, in a static program indirect functions.
    cat > libfn.c <<'EOF'
#include <math.h>
#include <stdio.h>
struct op { const char *name; double (*f)(double); };
static const struct op ops[] = { { "sqrt", sqrt }, { "sin", sin }, { "floor", floor } };
int main(void) {
    int (*volatile say)(const char *) = puts;
    say("table");
    for (int i = 0; i < 3; i++) printf("%s %.4f\n", ops[i].name, ops[i].f(2.5 + i));
    return 0;
}
EOF
    gcc -O0 -fno-pie -no-pie -o c-libfn-nopie libfn.c -lm && convert c-libfn-nopie c c-libfn-nopie
    have clang && clang -O0 -fno-pie -no-pie -o c-libfn-clang libfn.c -lm && convert c-libfn-clang c c-libfn-clang
    gcc -O2 -static -o c-libfn-static libfn.c -lm 2>/dev/null && convert c-libfn-static c c-libfn-static
    cat > stdin.c <<'EOF'
#include <stdio.h>
#include <string.h>
int main(void) {
    char line[256]; int n = 0; size_t total = 0;
    while (fgets(line, sizeof line, stdin)) { n++; total += strlen(line); }
    fprintf(stdout, "%d lines %zu bytes\n", n, total);
    return 0;
}
EOF
    gcc -O2 -fno-pie -no-pie -o c-stdin stdin.c && convert c-stdin-copy-reloc c c-stdin
    if gcc -m32 -O2 -fno-pie -no-pie -o c-stdin32 stdin.c 2>/dev/null; then
        convert c32-stdin-copy-reloc c32 c-stdin32
        grep -q '^extern stdin$' c32-stdin-copy-reloc.src || echo "c32-stdin-copy-reloc: stdin is not extern"
    fi
fi
if have g++; then
    cat > rtti.cpp <<'EOF'
#include <cstdio>
struct Shape { virtual ~Shape() {} virtual double area() const = 0; };
struct Square : Shape { double s; Square(double v) : s(v) {} double area() const override { return s * s; } };
struct Circle : Shape { double r; Circle(double v) : r(v) {} double area() const override { return 3.0 * r * r; } };
int main(int argc, char **) {
    Shape *shapes[3] = { new Square(2), new Circle(argc), new Square(3) };
    int squares = 0;
    for (Shape *s : shapes) {
        if (Square *q = dynamic_cast<Square *>(s)) squares += (int)q->s;
        std::printf("%.1f\n", s->area());
    }
    std::printf("squares %d\n", squares);
    for (Shape *s : shapes) delete s;
    return 0;
}
EOF
    g++ -O2 -o cxx-rtti rtti.cpp && convert cxx-rtti-O2 c cxx-rtti
    g++ -O0 -no-pie -o cxx-rtti-np rtti.cpp && convert cxx-rtti-O0-no-pie c cxx-rtti-np
    g++ -Os -s -o cxx-rtti-s rtti.cpp && convert cxx-rtti-Os-stripped c cxx-rtti-s
    # Fixed-address code: the type information points into a copied vtable.
    g++ -O2 -fno-pie -no-pie -o cxx-rtti-fnp rtti.cpp && convert cxx-rtti-fno-pie c cxx-rtti-fnp
    g++ -O2 -static -o cxx-rtti-st rtti.cpp 2>/dev/null && convert cxx-rtti-static c cxx-rtti-st
    if have clang++; then clang++ -O2 -o cxx-rtti-clang rtti.cpp && convert cxx-rtti-clang c cxx-rtti-clang; fi
    g++ -O2 -static -o cxx-static io.cpp 2>/dev/null && convert cxx-iostream-static c cxx-static
    g++ -O2 -static-pie -o cxx-spie io.cpp 2>/dev/null && convert cxx-iostream-static-pie c cxx-spie
fi

# Stripped position-independent tools of the system, with arguments.
for t in true: echo:"a b" seq:"3 7" cat: wc:-l basename:"/a/b.c .c" dirname:/a/b/c ssh:"-G localhost"; do
    tool=/usr/bin/${t%%:*}
    [ -x "$tool" ] || continue
    cp "$tool" "usr-${t%%:*}"
    args=${t#*:}
    convert "usr-bin-${t%%:*}" c "usr-${t%%:*}"
    args=
done

# NASM programs: position-independent with the C library, one with a
# copy-relocated extern, and linker options that shape the segments.
cat > npie.asm <<'EOF'
bits 64
global _start
extern printf, exit
section .text
_start:
    lea rbx, [rel table]
    mov rdi, [rbx + 8]
    mov esi, 0xffff
    xor eax, eax
    call printf wrt ..plt
    mov rax, [rel table]
    call rax
    xor edi, edi
    call exit wrt ..plt
done:
    ret
section .data
table: dq done, fmt
section .rodata
fmt: db "value %d", 10, 0
EOF
cat > copy.asm <<'EOF'
bits 64
global _start
extern stdout, fputs, exit
section .text
_start:
    lea rdi, [rel msg]
    mov rsi, [rel stdout]
    call fputs
    xor edi, edi
    call exit
section .data
msg: db "copied", 10, 0
section .bss
buf: resb 32
EOF
if [ -e /lib64/ld-linux-x86-64.so.2 ]; then
    dl="-dynamic-linker /lib64/ld-linux-x86-64.so.2"
    nasm_elf npie elf64 npie.asm -pie -z noexecstack $dl -lc && convert nasm-pie-libc nasm npie
    nasm_elf copy elf64 copy.asm -z noexecstack $dl -lc && convert nasm-copy-reloc nasm copy
    sed -e 's/^extern stdout, fputs, exit/extern stdout, stderr, fputs, exit/' -e '/^section .bss/,$d' \
        -e 's/^    mov rsi, \[rel stdout\]/    mov rsi, [rel stderr]/' copy.asm > copy2.asm
    nasm_elf copy2 elf64 copy2.asm -z noexecstack $dl -lc && convert nasm-copy-only-bss nasm copy2
    nasm_elf dynopts elf64 npie.asm -z noexecstack --hash-style=sysv -z relro -z now $dl -lc &&
        convert ld-sysv-relro-now nasm dynopts
fi
for v in noseparate:"-z noseparate-code" maxpage:"-z max-page-size=0x200000" nmagic:-n; do
    ld ${v#*:} -o "layout-${v%%:*}" layout.o 2>/dev/null && convert "ld-${v%%:*}" nasm "layout-${v%%:*}"
done
echo "programs: $total, verified: $verified, rebuilt: $rebuilt, failed: $failed"
[ $failed -eq 0 ]
