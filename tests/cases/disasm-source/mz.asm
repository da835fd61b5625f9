; A DOS MZ executable: a header of four paragraphs, then the code.
bits 16
    db "MZ"
    times 6 db 0
    dw 4
    times 64 - ($ - $$) db 0
    mov ah, 0x4c
    int 0x21
