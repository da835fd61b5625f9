# A missing file with terminal control bytes in its name is reported escaped.
run: --disasm {tmp}/x]0;pwn›.bin
