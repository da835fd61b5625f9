; Forks (or vforks, with `how` patched to 58) a child that passes `shared`
; and exits with 7; the parent passes `shared` too, waits for the child and
; exits with its exit code, or with 100 + the signal that ended it.
section .data
global how
how: db 57
status: dd 0
section .text
global _start, shared
_start:
    movzx eax, byte [rel how]
    syscall
    mov r12, rax
shared:
    test r12, r12
    jnz parent
    mov eax, 60
    mov edi, 7
    syscall
parent:
    mov eax, 61         ; wait4(child, &status, 0, 0)
    mov rdi, r12
    lea rsi, [rel status]
    xor edx, edx
    xor r10d, r10d
    syscall
    mov eax, [rel status]
    mov edi, eax
    and edi, 0x7f
    jz exited
    add edi, 100
    jmp quit
exited:
    shr eax, 8
    movzx edi, al
quit:
    mov eax, 60
    syscall
