; Changes its own code while it runs: first in a page it cannot write,
; which only the debugger changes (`poked`), then, after making the page
; writable with mprotect, by plain stores (`stored`, `late`). Each changed
; instruction is a `mov` whose immediate byte is rewritten.
section .text
global _start, poked, stored, late
_start:
    mov ecx, 40
spin1:
    dec ecx
    jnz spin1
poked:
    mov ebx, 1
    mov eax, 10             ; mprotect(page of _start, 4096, rwx)
    lea rdi, [rel _start]
    and rdi, -4096
    mov esi, 4096
    mov edx, 7
    syscall
    mov byte [rel stored + 1], 42
stored:
    mov ebx, 1
    mov ecx, 40
spin2:
    dec ecx
    jnz spin2
    mov byte [rel late + 1], 43
late:
    mov ebx, 1
    mov eax, 60
    xor edi, edi
    syscall
