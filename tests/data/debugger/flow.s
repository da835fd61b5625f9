; Straight-line code with a call, a rep movsb, a watched store, an int3 of
; its own and a clean exit (code 5).
section .data
value:   dq 0
other:   dq 0
src:     db "abcdefghijklmnop"
dst:     times 16 db 0
section .text
global _start, call_site, after_call, rep_site, after_rep, store, trap_site, after_trap, addone
_start:
    mov rax, 1
call_site:
    call addone
after_call:
    lea rsi, [rel src]
    lea rdi, [rel dst]
    mov ecx, 16
rep_site:
    rep movsb
after_rep:
    nop
store:
    mov qword [rel value], 42
trap_site:
    int3
after_trap:
    mov eax, 60
    mov edi, 5
    syscall
addone:
    add rax, 1
    add rax, 1
    ret
