; Forks a child that sleeps forever, then, with `stay` patched to 1, sleeps
; forever itself; otherwise it exits.
section .data
ts: dq 1000, 0
msg: db "forked"
global stay
stay: db 0
section .text
global _start, parent
_start:
    mov eax, 57         ; fork
    syscall
    test eax, eax
    jz sleep_forever
parent:                 ; rax holds the child's pid here
    mov eax, 1          ; write
    mov edi, 1
    lea rsi, [rel msg]
    mov edx, 6
    syscall
    cmp byte [rel stay], 0
    jne sleep_forever
    mov eax, 60
    xor edi, edi
    syscall
sleep_forever:
    mov eax, 35         ; nanosleep
    lea rdi, [rel ts]
    xor esi, esi
    syscall
    jmp sleep_forever
