$ cp {cases}/trace/copy.asm . && nasm -f elf64 -o copy.o copy.asm && ld -pie -dynamic-linker /lib64/ld-linux-x86-64.so.2 -o copy copy.o
run: --trace {tmp}/copy 5
mask: rsp=[0-9a-f]+ -> rsp=<sp>
mask: rax=[0-9a-f]+ -> rax=<left by the loader>
