# Equal bytes at different places: relative calls, jumps and RIP-relative loads
# name other addresses each time; a lone 0F is data before a valid 0F 0B.
$ printf '\350\000\000\000\000\350\000\000\000\000\353\000\353\000\110\213\005\000\000\000\000\110\213\005\000\000\000\000\017\017\013\017\013\125\125\303\303' > rep.bin
run: --disasm {tmp}/rep.bin 64
