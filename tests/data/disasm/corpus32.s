; 32-bit instructions for the decoder's round trip through NASM (read by disasm_test).
start:
    mov eax, [data]
    mov eax, [ebx+ecx*4+8]
    mov eax, [nosplit ecx*2]
    mov eax, [nosplit ecx+0x10]
    lea eax, [ebx+ecx]
    mov [ebx], ax
    mov dword [ebx], 1
    mov eax, [word 0x1234]
    mov eax, [bx+si]
    mov ax, [es:di]
    mov eax, [fs:0]
    mov eax, [gs:0x14]
    mov [ss:ebp-4], eax
    mov eax, [cs:ebx]
    push dword [ebp+8]
    push word 5
    push 0x10
    pusha
    popa
    pushaw
    popaw
    pushf
    popf
    pushfw
    popfw
    iret
    iretw
    call 0x1234:0x56789abc
    call word 0x1234:0x5678
    jmp 0x1234:0x56789abc
    jmp word 0x1234:0x5678
    call far [ebx]
    jmp far [ebx]
    call word far [ebx]
    lds eax, [ebx]
    les ax, [ebx]
    lss esp, [ebx]
    call start
    jmp start
near1:
    jcxz near1
    jecxz near1
    loop near1
    loopne near1
    int 0x80
    sysenter
    rep movsd
    rep movsw
    lodsd
    into
    aaa
    aas
    daa
    das
    aam
    aad
    bound eax, [ebx]
    arpl [ebx], ax
    salc
    inc eax
    dec cx
    xchg eax, ecx
    mov al, [0x12345678]
    mov [0x12345678], eax
    movzx eax, byte [esi]
    fld tword [ebx]
    fild dword [ebx]
    fdisi
    feni
    fsetpm
    fnclex
    enter 8, 0
    leave
    ret
    retf
    retf 4
    sgdt [ebx]
    lidt [eax]
    cvtsi2sd xmm0, dword [ebx]
    movaps xmm1, [ebx]
    movq mm0, [ebx]
    paddb mm0, mm1
    emms
    smsw [ebx]
    str eax
    lar eax, [ebx]
    push cs
    push ds
    pop es
    push fs
    pop gs
    nop dword [eax+eax+0]
data:
    dd 0
