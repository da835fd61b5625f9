env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
$ printf 'start:\n    nop\n    jmp start\n' > ./-prog.asm
run: --build -prog.asm bin
