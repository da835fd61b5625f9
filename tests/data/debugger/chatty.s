; Writes 3 MiB of 'q' in one call, which keeps refilling the pipe while
; the reader drains it, then exits.
section .bss
buf: resb 3145728
section .text
global _start
_start:
    lea rdi, [rel buf]
    mov ecx, 3145728
    mov al, 'q'
    rep stosb
    mov eax, 1
    mov edi, 1
    lea rsi, [rel buf]
    mov edx, 3145728
    syscall
    mov eax, 60
    xor edi, edi
    syscall
