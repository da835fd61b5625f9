$ cp {cases}/build/hello.asm .
run: --build hello.asm
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
