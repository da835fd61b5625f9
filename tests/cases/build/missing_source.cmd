$ cp -r {cases}/build/main32.asm {cases}/build/inc .
run: --build main32.asm --incs "inc" --srcs "lib/none.asm"
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
