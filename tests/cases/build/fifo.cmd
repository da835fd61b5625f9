$ mkfifo pipe.asm
run: --build pipe.asm
