# A raw file listed as 16-bit code from address 0.
$ cp {cases}/disasm/boot16.asm . && nasm -f bin -o boot.bin boot16.asm
run: --disasm boot.bin 16
