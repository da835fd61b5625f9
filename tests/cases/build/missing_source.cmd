$ cp -r {cases}/build/main32.asm {cases}/build/inc .
run: --build main32.asm --incs "inc" --srcs "lib/none.asm"
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
