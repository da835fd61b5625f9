; A 32-bit program: sets eax, exits with code 9.
section .text
global _start
_start:
    mov eax, 0x12345678
    mov ebx, 9
    mov eax, 1
    int 0x80
