// The reference's directive table: NASM's directives and preprocessor
// commands a beginner meets first, with one example each.
#include "refdata.h"

namespace refdata {

const Directive kDirectives[kDirectiveCount] = {
    { "section", "section,segment", "section .data\nmsg db \"Hello\", 10\n\nsection .text\n_start:" },
    { "global", "global", "global _start" },
    { "extern", "extern", "extern helper\ncall helper" },
    { "bits", "bits", "bits 64" },
    { "default", "default", "default rel\nmov eax, [count]" },
    { "db", "db,dw,dd,dq,dt", "msg    db \"Hello\", 10, 0\nvalues dd 1, 2, 3\nbig    dq 0x123456789ABCDEF0" },
    { "resb", "resb,resw,resd,resq", "section .bss\nbuffer resb 256\ncount  resq 1" },
    { "equ", "equ", "BUFSIZE equ 4096\nmsg     db \"Hello\", 10\nmsg_len equ $ - msg" },
    { "dollar", "$,$$", "msg db \"Hello\", 10\nlen equ $ - msg" },
    { "times", "times", "zeros times 16 db 0\ntimes 510-($-$$) db 0" },
    { "align", "align,alignb", "align 16\ntable dq 1, 2, 3, 4" },
    { "org", "org", "bits 16\norg 0x100" },
    { "incbin", "incbin", "picture incbin \"picture.bin\"" },
    { "sizes", "byte,word,dword,qword,oword", "mov byte [rdi], 0\nadd qword [rel count], 1\ninc dword [rbx + 4]" },
    { "rel", "rel", "lea rsi, [rel msg]" },
    { "define", "%define,%undef", "%define SYS_WRITE 1\nmov rax, SYS_WRITE" },
    { "assign", "%assign", "%assign n 0\n%rep 4\n    db n\n    %assign n n+1\n%endrep" },
    { "macro", "%macro,%endmacro", "%macro exit 1\n    mov rax, 60\n    mov rdi, %1\n    syscall\n%endmacro\n\n    exit 0" },
    { "include", "%include", "%include \"macros.inc\"" },
    { "if", "%if,%ifdef,%ifndef,%else,%endif", "%ifdef DEBUG\n    int3\n%endif" },
    { "rep", "%rep,%endrep", "%rep 4\n    nop\n%endrep" },
    { "struc", "struc,endstruc,istruc,at,iend", "struc point\n    .x resd 1\n    .y resd 1\nendstruc\n\nmov eax, [rbx + point.y]" },
    { "local", ".label", "count_down:\n.again:\n    dec rcx\n    jnz .again\n    ret" },
};

} // namespace refdata
