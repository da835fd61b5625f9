$ cp {cases}/disasm/prog64.asm . && nasm -f elf64 -o prog64.o prog64.asm && ld -o prog64 prog64.o 2>/dev/null
run: --disasm prog64
