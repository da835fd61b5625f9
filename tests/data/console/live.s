; A small program for the console against a live debuggee: a call to step
; over, a flag change, data to dump and edit, and a clean exit (code 0).
section .data
msg:    db "Hi", 10
buf:    times 16 db 0
section .text
global _start, after_call, zero, done, work
_start:
    mov rax, 5
    mov rbx, 7
    call work
after_call:
    add rax, 1
zero:
    xor eax, eax
    nop
done:
    mov eax, 60
    xor edi, edi
    syscall
work:
    add rax, rbx
    ret
