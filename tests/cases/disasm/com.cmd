$ nasm -f bin -o HELLO.COM {cases}/disasm/hello_com.asm
run: --disasm HELLO.COM
