; A small static program with code, data, read-only data and a section that
; is both writable and executable.
bits 64
global _start
global write_msg:function

section .text
_start:
    lea rsi, [rel msg]
    mov edx, len
    call write_msg
    cmp byte [rel flag], 0
    je .quit
    jmp write_msg + 5           ; into the middle of a function
.quit:
    mov eax, 60
    xor edi, edi
    syscall

write_msg:
    mov eax, 1
    mov edi, eax
    syscall
    ret
    vaddps ymm0, ymm1, ymm2     ; explained by its instruction set only
    db 0x0F                     ; a byte that decodes as nothing

section .rodata
msg:    db "hello, world", 10
len     equ $ - msg

section .data
flag:   db 1

section .zzesc exec write
zzbell:
    inc dword [rel flag]
    ret
