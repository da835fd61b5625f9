; A static 64-bit program with data after its code.
bits 64
global _start
section .text
_start:
    mov eax, 1
    mov edi, 1
    lea rsi, [rel msg]
    mov edx, len
    syscall
    xor ecx, ecx
.again:
    inc ecx
    cmp ecx, 10
    jne .again
    mov eax, 60
    xor edi, edi
    syscall
section .data
msg: db "Hello, world!", 10, 0
len equ $ - msg
table: times 40 db 0
section .bss
buf: resb 64
