$ mkdir folder.asm
run: --build folder.asm
