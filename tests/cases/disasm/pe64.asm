; A PE32+ image with a hand-made header: one code and one data section.
    db "MZ"
    times 0x3c - ($ - $$) db 0
    dd pe
    times 0x80 - ($ - $$) db 0
pe: db "PE", 0, 0
    dw 0x8664, 2            ; machine, NumberOfSections
    dd 0, 0, 0
    dw opt_end - opt, 0x22
opt:
    dw 0x20b                ; PE32+
    times 14 db 0
    dd 0x1000               ; AddressOfEntryPoint
    dd 0x1000               ; BaseOfCode
    dq 0x140000000          ; ImageBase
    times 240 - ($ - opt) db 0
opt_end:
    db ".text", 0, 0, 0
    dd text_end - text, 0x1000, 0x200, text - $$
    dd 0, 0, 0, 0x60000020
    db ".data", 0, 0, 0
    dd 8, 0x2000, 0x200, data - $$
    dd 0, 0, 0, 0xC0000040
    align 0x200, db 0
text:
bits 64
    sub rsp, 0x28
    mov ecx, [rel text + 0x1000 + (value - data)]   ; RVA 0x2000, the .data section
    add rsp, 0x28
    ret
text_end:
    align 0x200, db 0
data:
value: dd 42
    align 0x200, db 0
