env: XDG_RUNTIME_DIR={tmp}
$ cp {cases}/disasm-source/com.asm . && nasm -f bin com.asm -o prog.com
run: --disasm-source prog.com
