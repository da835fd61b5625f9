$ cp {cases}/build/crtmain.asm .
run: --build crtmain.asm --crt elf32
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
