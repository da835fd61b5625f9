$ cp {cases}/build/hello.asm prog
run: --build ./prog
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
