; A 32-bit program that exits through int 0x80.
bits 32
global _start
section .text
_start:
    push ebp
    mov ebp, esp
    mov eax, [counter]
    add eax, 2
    mov [counter], eax
    pusha
    popa
    mov ebx, 0
    mov eax, 1
    int 0x80
section .bss
counter: resd 1
