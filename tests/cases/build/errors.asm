section .text
global _start
_start:
    mov eax, nosuch
    dw 0x123456
    mov eax, 1, 2
