env: XDG_RUNTIME_DIR={tmp}
$ cp {cases}/disasm-source/hello32.asm . && nasm -f elf32 hello32.asm -o hello32.o && ld -m elf_i386 -o hello32 hello32.o
run: --disasm-source hello32
