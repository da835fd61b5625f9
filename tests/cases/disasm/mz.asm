; A DOS MZ executable with a hand-made header of four paragraphs.
bits 16
    db "MZ"
    dw 0, 1, 0, 4       ; bytes in last page, pages, relocations, header paragraphs
    times 0x14 - ($ - $$) db 0
    dw start - code     ; IP
    dw 0                ; CS
    times 64 - ($ - $$) db 0
code:
msg: db "MZ!$"
start:
    mov dx, msg - code
    mov ah, 9
    int 0x21
    mov ax, 0x4c00
    int 0x21
