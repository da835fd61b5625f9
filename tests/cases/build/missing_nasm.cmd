$ cp {cases}/build/hello.asm .
run: --build hello.asm
env: PATH=/nonexistent
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
mask: (Search for the package with: |Install with: ).* -> $1{command}
