# A breakpoint that an endless loop never reaches: the wait runs out and says so.
$ cp {cases}/trace/spin.asm . && nasm -f elf64 -o spin.o spin.asm && ld -o spin spin.o
run: --trace {tmp}/spin 1
mask: rsp=[0-9a-f]+ -> rsp=<sp>
