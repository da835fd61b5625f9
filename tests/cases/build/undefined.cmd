$ cp {cases}/build/undefined.asm .
run: --build undefined.asm
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
