; A boot sector with an included blob.
org	0x7C00
bits 16
start:
    cli
    mov ax, 0x1234
    incbin "blob.bin"
    times 16 db 0
    jmp start
