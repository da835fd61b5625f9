$ printf -- '-f elf64\n-o ./pwned.o\n' > r.asm
$ printf 'start:\n    nop\n    jmp start\n' > @r.asm
run: --build @r.asm bin
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
