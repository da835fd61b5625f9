; Forks a child that starts a session of its own, ignores every signal and
; forks a grandchild; both write their pid (4 bytes) and sleep forever, and
; so does the program.
section .data
act: dq 1, 0, 0, 0      ; SIG_IGN
ts: dq 1000, 0
pid: dd 0
section .text
global _start
_start:
    mov eax, 57         ; fork
    syscall
    test eax, eax
    jnz sleep_forever
    mov eax, 112        ; setsid
    syscall
    mov r12d, 1
ignore:
    mov eax, 13         ; rt_sigaction(sig, &act, 0, 8); refused for SIGKILL and SIGSTOP
    mov edi, r12d
    lea rsi, [rel act]
    xor edx, edx
    mov r10d, 8
    syscall
    inc r12d
    cmp r12d, 65
    jb ignore
    mov eax, 57
    syscall
    mov eax, 39         ; getpid
    syscall
    mov [rel pid], eax
    mov eax, 1
    mov edi, 1
    lea rsi, [rel pid]
    mov edx, 4
    syscall
sleep_forever:
    mov eax, 35
    lea rdi, [rel ts]
    xor esi, esi
    syscall
    jmp sleep_forever
