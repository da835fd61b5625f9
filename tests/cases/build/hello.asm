; Writes a greeting and exits with 0.
section .data
msg:    db "hello", 10
len     equ $ - msg

section .text
global _start
_start:
    mov eax, 1          ; write
    mov edi, 1
    lea rsi, [rel msg]
    mov edx, len
    syscall
    mov eax, 60         ; exit
    xor edi, edi
    syscall
