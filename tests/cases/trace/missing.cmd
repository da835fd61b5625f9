run: --trace {tmp}/no-such-program
