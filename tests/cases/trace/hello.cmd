$ nasm -f elf64 -o hello.o {cases}/trace/hello.asm && ld -o hello hello.o
run: --trace {tmp}/hello 5
mask: rsp=[0-9a-f]+ -> rsp=<sp>
