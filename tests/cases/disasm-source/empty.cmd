env: XDG_RUNTIME_DIR={tmp}
$ : > empty.bin
run: --disasm-source empty.bin
