# An empty file is an empty raw image: the header line and nothing else.
$ : > empty.bin
run: --disasm empty.bin
