env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
$ printf 'start:\n    nop\n    jmp start\n' > ./-prog.asm
run: --build -prog.asm bin
