$ cp {cases}/build/crtmain.asm .
run: --build crtmain.asm elf32 --crt
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
