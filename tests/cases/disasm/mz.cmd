$ nasm -f bin -o prog.exe {cases}/disasm/mz.asm
run: --disasm prog.exe
