; 64-bit instructions for the decoder's round trip through NASM (read by disasm_test).
start:
    mov rax, [rel data]
    lea rdi, [rel data]
    mov [rel data], ecx
    add qword [rel data], 5
    cmp byte [rel data+3], 0x7f
    mov rax, [fs:0x28]
    mov eax, [gs:rbx+8]
    mov rax, [abs 0x1000]
    mov eax, [abs 0x7fffffff]
    mov rax, [abs qword 0x1122334455667788]
    mov al, [abs qword 0x1122334455667788]
    mov eax, [nosplit rax*2]
    mov eax, [nosplit rcx*1+0x10]
    lea rax, [rbx+rcx]
    lea rax, [rbx+rcx*1+8]
    lea rax, [rbx+rcx*4-8]
    mov eax, [r12+r13*8+0x100]
    mov [rbx], eax
    mov dword [rbx], 1
    mov byte [rbx], 1
    mov word [rbx], 1
    mov qword [rbx], -1
    movzx eax, byte [rsi]
    movzx eax, word [rsi]
    movsx rax, word [rbx]
    movsxd rax, dword [rbx]
    movsx eax, cl
    inc dword [rax]
    dec qword [rax+8]
    neg byte [rdx]
    not word [rdx]
    push qword [rbp-8]
    pop qword [rbp-8]
    push 0x12345678
    push rbx
    pop r15
    call near_target
    call rax
    call [rax+8]
    call qword [rel data]
    jmp near_target
    jmp rax
    jmp [rax]
    notrack_jmp: db 0x3e, 0xff, 0xe0
    bnd jmp rax
    je near_target
    jne start
loops:
    jrcxz loops
    loop loops
    loope loops
    loopne near_target
near_target:
    ret
    ret 8
    retf
    retf 16
    o64 retf
    iretq
    iret
    iretd
    leave
    enter 0x20, 0
    syscall
    int 0x80
    int3
    hlt
    ud2
    cpuid
    rdtsc
    rdtscp
    pause
    endbr64
    nop
    nop dword [rax]
    nop dword [rax+rax+0]
    nop word [rax+rax+0]
    db 0x66, 0x2e, 0x0f, 0x1f, 0x84, 0x00, 0x00, 0x00, 0x00, 0x00
    xchg rax, rbx
    xchg [rbx], ecx
    lock add [rax], ebx
    lock cmpxchg [rdi], rcx
    lock xadd [rdi], eax
    rep movsb
    rep stosq
    repne scasb
    repe cmpsb
    lodsb
    movsd
    cmpsw
    stosb
    cqo
    cdq
    cdqe
    cwde
    cbw
    cwd
    imul rax, rbx, 10
    imul eax, [rbx], 100
    imul rcx
    mul byte [rbx]
    div dword [rbx]
    idiv r8
    shl rax, 3
    shr dword [rax], cl
    sar rax, 1
    rol eax, 8
    ror byte [rbx], 1
    rcl rdx, 1
    shld rdx, rax, 4
    bt rax, 5
    bts dword [rax], 3
    bsf rcx, rax
    popcnt rax, rbx
    lzcnt eax, [rbx]
    tzcnt r9, r10
    cmovg eax, ebx
    cmovne rax, [rbx]
    setne al
    sete byte [rbx]
    test rax, rax
    test byte [rbx], 1
    and eax, 0xff
    or al, 0x20
    xor eax, eax
    sub rsp, 0x10
    adc rdx, 0
    sbb eax, [rbx]
    add ax, 1
    add r8w, [r9]
    mov ah, [rbx]
    mov sil, dil
    mov rax, qword 0x1122334455667788
    mov rax, 0x11223344
    mov eax, 1
    mov es, ax
    mov ax, ds
    mov [rbx], ds
    mov rax, cr0
    mov dr7, rax
    clc
    stc
    cmc
    cld
    std
    cli
    sti
    lahf
    sahf
    pushf
    popf
    pushfq
    bswap eax
    movd xmm0, eax
    movq xmm1, rax
    movq rax, xmm0
    movq xmm2, [rbx]
    movd [rbx], xmm3
    movaps xmm0, [rax]
    movups [rax], xmm1
    movdqa xmm0, [rsi]
    movdqu xmm0, [rsi+rcx*1]
    movss xmm0, [rbx]
    movsd xmm0, [rel data]
    movsd [rbx], xmm1
    addsd xmm0, xmm1
    subsd xmm0, [rbx]
    mulps xmm0, [rbx]
    divss xmm0, xmm1
    sqrtsd xmm0, xmm0
    maxsd xmm0, xmm1
    cvtsi2sd xmm0, rax
    cvtsi2sd xmm0, qword [rbx]
    cvtsi2sd xmm0, dword [rbx]
    cvtsi2ss xmm1, qword [rbx]
    cvttsd2si rax, xmm0
    cvtss2sd xmm0, [rbx]
    ucomisd xmm0, xmm1
    xorps xmm0, xmm0
    andpd xmm0, [rel data]
    paddd xmm0, xmm1
    pcmpeqb xmm0, [rdi]
    pmovmskb eax, xmm0
    pshufd xmm0, xmm1, 0x1b
    pinsrw xmm0, word [rbx], 1
    pinsrb xmm0, byte [rbx], 1
    pextrw eax, xmm0, 2
    vaddps ymm0, ymm1, ymm2
    vaddps ymm0, ymm1, [rbx]
    vmovdqu ymm0, [rdi]
    vmovdqu [rdi], ymm1
    vpbroadcastd ymm0, dword [rbx]
    vaddps zmm0, zmm1, zmm2
    vmovdqu64 zmm0, [rdi]
    vpxor xmm0, xmm0, xmm0
    vzeroupper
    vgatherdps ymm0, [rax+ymm1*4], ymm2
    vfmadd231sd xmm0, xmm1, [rbx]
    fld qword [rbx]
    fld dword [rbx]
    fld tword [rbx]
    fstp tword [rbx]
    fild word [rbx]
    fild qword [rbx]
    fistp dword [rbx]
    fadd st0, st1
    faddp st1, st0
    fmul qword [rbx]
    fxch st1
    fldcw [rbx]
    fnstcw [rbx]
    fnstsw ax
    fnstenv [rbx]
    fldenv [rbx]
    fxsave [rbx]
    fxrstor [rbx]
    fbld [rbx]
    fnop
    fninit
    fsqrt
    lgdt [rbx]
    sidt [rbx]
    lss rsp, [rbx]
    lfs eax, [rbx]
    lgs rax, [rbx]
    prefetcht0 [rbx]
    clflush [rbx]
    bndmk bnd0, [rax]
    movbe eax, [rbx]
    crc32 eax, byte [rbx]
    crc32 rax, qword [rbx]
    xlatb
    in al, dx
    out 0x80, al
    insb
    outsd
    cmpxchg16b [rdi]
    rdrand eax
    xgetbv
    mfence
    lfence
    sfence
data:
    dq 0
