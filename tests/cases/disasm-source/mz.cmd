env: XDG_RUNTIME_DIR={tmp}
$ cp {cases}/disasm-source/mz.asm . && nasm -f bin mz.asm -o prog.exe
run: --disasm-source prog.exe
