$ cp {cases}/disasm/prog32.asm . && nasm -f elf32 -o prog32.o prog32.asm && ld -m elf_i386 -o prog32 prog32.o
run: --disasm prog32
