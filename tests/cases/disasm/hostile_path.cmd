# A file name with terminal control bytes (OSC title, BEL, C1 CSI) is printed escaped.
$ printf '\220\303' > "$(printf 'x\033]0;pwn\007\233.bin')"
run: --disasm {tmp}/x]0;pwn›.bin
