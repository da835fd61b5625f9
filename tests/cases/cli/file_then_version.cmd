run: prog.asm --version
