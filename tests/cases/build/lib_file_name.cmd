$ cp {cases}/build/hello.asm .
$ mkdir libs && cc -shared -nostdlib -o libs/libfoo.so -x c /dev/null
run: --build hello.asm --libs "libfoo.so" --libdirs libs
mask: [^ ,]*/qxFerndockAssemblerIDE-[^/ ]*/run-[0-9]+-[A-Za-z0-9]{6} -> {work}
