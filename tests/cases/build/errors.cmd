$ cp {cases}/build/errors.asm .
run: --build errors.asm
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
