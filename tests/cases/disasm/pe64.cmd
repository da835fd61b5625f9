$ cp {cases}/disasm/pe64.asm . && nasm -f bin -o prog.exe pe64.asm
run: --disasm prog.exe
