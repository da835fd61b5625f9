; Sends itself SIGQUIT, which has no name in the engine's table.
section .text
global _start, after_kill
_start:
    mov eax, 39
    syscall
    mov edi, eax
    mov esi, 3
    mov eax, 62
    syscall
after_kill:
    mov eax, 60
    xor edi, edi
    syscall
