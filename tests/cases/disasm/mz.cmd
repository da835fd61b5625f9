$ cp {cases}/disasm/mz.asm . && nasm -f bin -o prog.exe mz.asm
run: --disasm prog.exe
