$ cp {cases}/trace/segv.asm . && nasm -f elf64 -o segv.o segv.asm && ld -o segv segv.o
run: --trace {tmp}/segv 1
mask: rsp=[0-9a-f]+ -> rsp=<sp>
