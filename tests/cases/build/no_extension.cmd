$ mkdir dir.d && cp {cases}/build/hello.asm dir.d/prog
run: --build dir.d/prog elf64 --libs
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
