; A position-independent program with a repeated string copy.
default rel
section .data
src:    db "0123456789abcde", 10
section .bss
dst:    resb 16
section .text
global _start
_start:
    lea rsi, [src]
    lea rdi, [dst]
    mov ecx, 16
    rep movsb
    mov eax, 1
    mov edi, 1
    lea rsi, [dst]
    mov edx, 16
    syscall
    mov eax, 60
    xor edi, edi
    syscall
