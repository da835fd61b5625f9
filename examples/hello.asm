; hello.asm - the example program: prints a greeting and counts down.
; Build: F7, run: F5 (or: qxferndockassembleride --build examples/hello.asm)

bits 64
default rel

section .data
greeting:   db "Hello from qxFerndockAssemblerIDE!", 10
greeting_len equ $ - greeting
digit:      db "0", 10

section .text
global _start

_start:
    mov     rax, 1                  ; write(1, greeting, greeting_len)
    mov     rdi, 1
    lea     rsi, [greeting]
    mov     rdx, greeting_len
    syscall

    mov     rbx, 3                  ; count down from 3
.count:
    mov     al, bl
    add     al, '0'
    mov     [digit], al
    mov     rax, 1                  ; write(1, digit, 2)
    mov     rdi, 1
    lea     rsi, [digit]
    mov     rdx, 2
    syscall
    dec     rbx
    jnz     .count

    mov     rax, 60                 ; exit(0)
    xor     edi, edi
    syscall
