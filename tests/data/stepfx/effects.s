; One labelled instruction for each kind of step effect the tests read.
; The slots below the stack pointer are filled with 'A's first, so each
; push shows a known old value.
section .data
text: db "hello", 0
copy: db 0, 0, 0, 0, 0, 0
lower: db "h"
upper: db "H"
section .text
global _start, s_push, s_call, s_ret, s_back, s_rep, s_cmp, s_jne, s_jz, s_taken
global s_enter, s_pushf, s_write, s_write_done, s_close, s_close_done, s_mov60
global s_store_new, s_store_same, text, copy, lower, upper
_start:
    mov rax, 0x4141414141414141
    mov [rsp-8], rax
    mov [rsp-16], rax
    mov rbx, 0x1122334455667788
    mov eax, 1
s_push:
    push rbx
s_call:
    call leaf
s_back:
    pop rbx
    lea rsi, [rel text]
    lea rdi, [rel copy]
    mov ecx, 5
    cld
s_rep:
    rep movsb
    mov eax, -2
    add eax, 0          ; sign set, no carries, odd parity
s_cmp:
    cmp eax, eax
s_jne:
    jne s_back
s_jz:
    jz s_taken
    nop
s_taken:
    mov rbp, rsp
    mov rax, 0x4141414141414141
    mov [rsp-8], rax
s_enter:
    enter 0x20, 0
    leave
    mov [rsp-8], rax
s_pushf:
    pushfq
    popfq
s_store_new:
    mov byte [rel lower], 'H'
s_store_same:
    mov byte [rel upper], 'H'
    mov eax, 1
    mov edi, 1
    lea rsi, [rel text]
    mov edx, 5
    xor ecx, ecx
    xor r11d, r11d
s_write:
    syscall
s_write_done:
    mov eax, 3
    mov edi, -1
    xor ecx, ecx
    xor r11d, r11d
s_close:
    syscall
s_close_done:
s_mov60:
    mov eax, 60
    xor edi, edi
    syscall
leaf:
s_ret:
    ret
