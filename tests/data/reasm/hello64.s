bits 64
global _start
section .text
helper:
    ret
_start:
    mov eax, 1
    mov edi, 1
    lea rsi, [rel msg]
    mov edx, len
    syscall
    call helper
    mov eax, 60
    xor edi, edi
    syscall
section .data
msg: db "Hello, world!", 10
len equ $ - msg
