; A boot sector that reloads CS with a far jump.
bits 16
org 0x7c00
    jmp 0x0000:entry
entry:
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
    jmp .done
msg: db "Booting...", 13, 10, 0
times 510-($-$$) db 0
dw 0xaa55
