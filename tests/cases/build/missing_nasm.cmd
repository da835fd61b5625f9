$ cp {cases}/build/hello.asm .
run: --build hello.asm
env: PATH=/nonexistent
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
mask: (Search for the package with: |Install with: ).* -> $1{command}
