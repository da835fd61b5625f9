; A DOS .COM program.
bits 16
org 0x100
    mov ah, 9
    mov dx, msg
    int 0x21
    mov cx, 3
again:
    loop again
    mov ax, 0x4c00
    int 0x21
msg: db "Hi from DOS$"
