; Asks a question from a function, then waits for an answer that never comes.
section .data
q:      db "Name?", 10
section .bss
buf:    resb 16
section .text
global _start
_start:
    call ask
    mov eax, 60
    xor edi, edi
    syscall
ask:
    mov eax, 1
    mov edi, 1
    lea rsi, [rel q]
    mov edx, 6
    syscall
    xor eax, eax
    xor edi, edi
    lea rsi, [rel buf]
    mov edx, 16
    syscall
    ret
