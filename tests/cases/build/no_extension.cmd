$ mkdir dir.d && cp {cases}/build/hello.asm dir.d/prog
run: --build dir.d/prog elf64 --libs
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
