# A signal met while stepping is shown as a stop; the next step delivers it.
$ cp {cases}/trace/late_abort.asm . && nasm -f elf64 -o late_abort.o late_abort.asm && ld -o late_abort late_abort.o
run: --trace {tmp}/late_abort 20
mask: rsp=[0-9a-f]+ -> rsp=<sp>
mask: rax=[0-9a-f]{3,} -> rax=<pid>
