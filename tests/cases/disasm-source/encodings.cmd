env: XDG_RUNTIME_DIR={tmp}
$ cp {cases}/disasm-source/encodings.asm . && nasm -f elf64 encodings.asm -o enc.o && ld -o enc enc.o
run: --disasm-source enc
