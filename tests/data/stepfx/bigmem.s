; Grows its stack to 8 MiB and maps ten writable regions of 1 MiB below it
; (each touched, 1 MiB apart so they stay separate mappings), so the
; writable memory before the stack exceeds 8 MiB.
; Then it pushes and pops in a loop forever.
section .text
global _start, s_loop, s_push
_start:
    mov rbx, rsp
    mov rcx, 8*1024*1024 / 4096
.touch:
    sub rbx, 4096
    mov byte [rbx], 1
    dec rcx
    jnz .touch
    xor r12d, r12d
.map:
    mov eax, 9          ; mmap(hint, 1 MiB, read|write, private|anonymous, -1, 0)
    mov rdi, r12
    shl rdi, 21
    add rdi, 0x10000000
    mov esi, 1024*1024
    mov edx, 3
    mov r10d, 0x22
    mov r8, -1
    xor r9d, r9d
    syscall
    mov byte [rax], 1
    inc r12d
    cmp r12d, 10
    jne .map
    xor r13d, r13d
s_loop:
    inc r13
s_push:
    push r13
    pop r14
    jmp s_loop
