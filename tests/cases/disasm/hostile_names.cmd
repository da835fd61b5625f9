# Section and symbol names with terminal control bytes are printed escaped.
$ cp {cases}/disasm/prog64.asm . && nasm -f elf64 -o prog64.o prog64.asm && ld -o prog64 prog64.o 2>/dev/null
$ sed -i 's/\.zzesc/.\x1b[31m/; s/zzbell/\x07bel\x7f\x01/' prog64
run: --disasm prog64
