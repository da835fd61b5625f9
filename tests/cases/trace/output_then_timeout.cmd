$ cp {cases}/trace/ask.asm . && nasm -f elf64 -o ask.o ask.asm && ld -o ask ask.o
run: --trace {tmp}/ask 2
mask: rsp=[0-9a-f]+ -> rsp=<sp>
