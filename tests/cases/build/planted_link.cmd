$ cp {cases}/build/boot.asm {cases}/build/blob.bin .
$ ln -s nosuchdir/target boot.bin
run: --build boot.asm
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
