$ nasm -f bin -o prog.exe {cases}/disasm/pe64.asm
run: --disasm prog.exe
