$ cp {cases}/build/crtmain.asm .
run: --build crtmain.asm --crt elf32
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
