$ cp {cases}/build/undefined.asm .
run: --build undefined.asm
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
