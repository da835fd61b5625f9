; A boot-sector-like flat binary in 16-bit code.
bits 16
org 0x7c00
    cli
    xor ax, ax
    mov ds, ax
    mov si, msg
.next:
    lodsb
    test al, al
    jz .done
    mov ah, 0x0e
    int 0x10
    jmp .next
.done:
    hlt
msg: db "hi", 0
