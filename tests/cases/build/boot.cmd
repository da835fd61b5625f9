$ cp {cases}/build/boot.asm {cases}/build/blob.bin .
run: --build boot.asm
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
