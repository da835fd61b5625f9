env: XDG_RUNTIME_DIR={tmp}
$ cp {cases}/disasm-source/boot.asm . && nasm -f bin boot.asm -o boot.bin
run: --disasm-source boot.bin 16 0x7c00
