# A raw file listed as 16-bit code from address 0.
$ nasm -f bin -o boot.bin {cases}/disasm/boot16.asm
run: --disasm boot.bin 16
