; square(5) in a frame with a saved rbp, through a nested multiply; the
; result is the exit code (25).
section .text
global _start, square, after_push, after_multiply, before_ret, after_square, multiply, in_multiply
_start:
    mov rbp, rsp        ; a stack address in rbp, as compiled code has
    mov edi, 5
    call square
after_square:
    mov edi, eax
    mov eax, 60
    syscall
square:
    push rbp
after_push:
    mov rbp, rsp
    push rbx
    mov ebx, edi
    call multiply
after_multiply:
    pop rbx
    pop rbp
before_ret:
    ret
multiply:               ; eax = edi * ebx, by adding
    push rbp
in_multiply:
    xor eax, eax
    mov ecx, ebx
again:
    add eax, edi
    loop again
    pop rbp
    ret
