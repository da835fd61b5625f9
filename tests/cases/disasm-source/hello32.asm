; A static 32-bit program with a call and a table of pointers.
bits 32
global _start
section .text
_start:
    mov esi, [ptrs]
    call print
    mov eax, 1
    xor ebx, ebx
    int 0x80
print:
    mov eax, 4
    mov ebx, 1
    mov ecx, esi
    mov edx, 6
    int 0x80
    ret
section .data
msg: db "hello", 10
ptrs: dd msg
