env: XDG_RUNTIME_DIR={tmp}
run: --disasm-source no-such-file.bin
