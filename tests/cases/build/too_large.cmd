$ truncate -s 300M big.asm
run: --build big.asm
