; A C-runtime program: main returns 7.
section .text
global main
main:
    mov eax, 7
    ret
