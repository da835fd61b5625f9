$ cp {cases}/disasm/hello_com.asm . && nasm -f bin -o HELLO.COM hello_com.asm
run: --disasm HELLO.COM
