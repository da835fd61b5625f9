; Maps one anonymous page, leaves its address in r12, traps and spins.
section .text
global _start
_start:
    mov eax, 9
    xor edi, edi
    mov esi, 4096
    mov edx, 3
    mov r10d, 0x22
    mov r8, -1
    xor r9d, r9d
    syscall
    mov r12, rax
    int3
spin:
    jmp spin
