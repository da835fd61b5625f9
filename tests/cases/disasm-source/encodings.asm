; Instructions that NASM would encode in another form.
bits 64
global _start
section .text
_start:
    jz short over
    db 0x81, 0xC0, 1, 0, 0, 0        ; add eax, 1 with a 32-bit immediate
over:
    db 0x8B, 0xC1                    ; mov eax, ecx in its other form
    mov eax, 60
    syscall
