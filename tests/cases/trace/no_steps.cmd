$ nasm -f elf64 -o hello.o {cases}/trace/hello.asm && ld -o hello hello.o
run: --trace {tmp}/hello 0
