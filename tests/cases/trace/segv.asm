; Stores to address 0 on its second instruction.
section .text
global _start
_start:
    xor eax, eax
    mov qword [0], 1
    mov eax, 60
    xor edi, edi
    syscall
