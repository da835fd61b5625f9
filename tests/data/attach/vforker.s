; Its child sleeps 1.5 s inside vfork, and a vfork parent cannot stop until
; its child execs or exits; afterwards the parent counts in `counter`,
; sleeping 2 ms per round, forever.
section .data
long_nap: dq 1, 500000000
short_nap: dq 0, 2000000
section .bss
counter: resq 1
section .text
global _start, counter
_start:
    mov eax, 58             ; vfork
    syscall
    test eax, eax
    jnz .parent
    mov eax, 35             ; nanosleep(long_nap)
    lea rdi, [rel long_nap]
    xor esi, esi
    syscall
    mov eax, 60             ; exit(0)
    xor edi, edi
    syscall
.parent:
    inc qword [rel counter]
    mov eax, 35
    lea rdi, [rel short_nap]
    xor esi, esi
    syscall
    jmp .parent
