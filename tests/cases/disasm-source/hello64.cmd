env: XDG_RUNTIME_DIR={tmp}
$ cp {cases}/disasm-source/hello64.asm . && nasm -f elf64 hello64.asm -o hello.o && ld -o hello hello.o
run: --disasm-source hello
