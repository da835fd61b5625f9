; Writes a line, calls a small function, and exits with code 3.
section .data
msg:    db "hello", 10
section .text
global _start
_start:
    mov eax, 1
    mov edi, 1
    lea rsi, [rel msg]
    mov edx, 6
    syscall
    call twice
    mov edi, eax
    mov eax, 60
    syscall
twice:
    mov eax, 1
    add eax, eax
    inc eax
    ret
