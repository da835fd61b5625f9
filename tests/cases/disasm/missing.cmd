run: --disasm no-such-file
