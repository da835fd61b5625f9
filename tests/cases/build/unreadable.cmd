run: --build absent.asm
