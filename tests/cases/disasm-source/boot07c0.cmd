env: XDG_RUNTIME_DIR={tmp}
$ cp {cases}/disasm-source/boot07c0.asm . && nasm -f bin boot07c0.asm -o boot07c0.bin
run: --disasm-source boot07c0.bin 16 0x7c00
