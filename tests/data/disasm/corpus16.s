; 16-bit instructions for the decoder's round trip through NASM (read by disasm_test).
start:
    mov ax, [bx+si]
    mov ax, [bp+di+4]
    mov ax, [0x1234]
    mov ax, [es:0x10]
    mov byte [bx], 1
    mov word [bx], 1
    mov eax, [ebx]
    mov eax, [ebx+ecx*4]
    mov ax, [dword 0x1234]
    mov ax, [nosplit ecx*2]
    mov [bx], al
    mov ax, 0x4c00
    int 0x21
    int 0x10
    call start
    call 0x1234:0x5678
    call dword 0x1234:0x5678
    jmp 0xf000:0xfff0
    jmp dword 0xf000:0xfff0
    call far [bx]
    jmp far [bx]
    call dword far [bx]
    lds si, [bx]
    les di, [bx]
    les edi, [bx]
    jmp start
    jcxz start
    jecxz start
    loop start
    pusha
    popa
    pushad
    popad
    pushf
    popf
    pushfd
    iret
    iretd
    retf
    ret
    rep movsb
    rep stosw
    lodsb
    movsd
    xlatb
    in al, 0x60
    out dx, al
    cli
    hlt
    push es
    pop ds
    push cs
    lea si, [bx+di+2]
    lea esi, [ebx+4]
    shl ax, 1
    shl ax, 4
    fld tword [bx]
    fld qword [bx]
    lgdt [bx]
    lidt [bx]
    nop
data:
    dw 0
