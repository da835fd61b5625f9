; A boot sector that sets CS to 0x07C0 with a far jump, so that its
; offsets count from 0 while it runs at 0x7C00.
bits 16
org 0
    jmp 0x07C0:entry
entry:
    mov ax, cs
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
    jmp .done
msg: db "Booting...", 13, 10, 0
times 510-($-$$) db 0
dw 0xaa55
