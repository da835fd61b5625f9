# A program that waits for input never reaches the breakpoint behind its call: the wait runs out.
$ cp {cases}/trace/ask.asm . && nasm -f elf64 -o ask.o ask.asm && ld -o ask ask.o
run: --trace {tmp}/ask 0
