# A signal that ends the program after the breakpoint is shown as a stop, then as the exit it causes.
$ cp {cases}/trace/late_abort.asm . && nasm -f elf64 -o late_abort.o late_abort.asm && ld -o late_abort late_abort.o
run: --trace {tmp}/late_abort 1
mask: rsp=[0-9a-f]+ -> rsp=<sp>
