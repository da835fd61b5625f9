$ cp {cases}/trace/hello.asm . && nasm -f elf64 -o hello.o hello.asm && ld -o hello hello.o
run: --trace {tmp}/hello 40
mask: rsp=[0-9a-f]+ -> rsp=<sp>
