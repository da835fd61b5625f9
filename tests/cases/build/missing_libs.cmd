$ cp {cases}/build/hello.asm .
run: --build hello.asm --libs "m qxnosuchlib -l:libqxgone.so.2"
env: XDG_RUNTIME_DIR={tmp}
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]* -> {work}
mask: (Search for the package with: |Install with: ).* -> $1{command}
