$ cp -r {cases}/build/main32.asm {cases}/build/inc {cases}/build/lib .
run: --build main32.asm elf32 --incs inc --srcs "lib/helper.asm"
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
