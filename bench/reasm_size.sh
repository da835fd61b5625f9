#!/bin/sh
# Time and peak memory of disassembly to source by the size of the input:
# generated C programs of about 1.3 MB and 10 MB, zero-filled raw files
# (one instruction per two bytes, the most lines a byte can give) and random
# bytes. Next to each conversion, the peer on equal work: nasm alone on the
# printed source with the options a build uses (its floor), and the memory
# the goal allows (40 x input + 64 MiB).
#
# usage: bench/reasm_size.sh [path/to/qxferndockassembleride] [--quick]
set -u

here=$(cd "$(dirname "$0")" && pwd)
exe=${1:-$here/../build/qxferndockassembleride}
quick=${2:-}
[ -x "$exe" ] || { echo "no executable at $exe" >&2; exit 1; }
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (package time)" >&2; exit 1; }

work=$(mktemp -d /tmp/reasm-size.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export XDG_RUNTIME_DIR="$work"

# gen N: a C program of N functions, each with a switch (a jump table), a
# call through the library and a loop; main calls them through a table.
gen() {
    awk -v n="$1" 'BEGIN {
      print "#include <stdio.h>\n#include <string.h>\nstatic char buf[256];";
      for (i = 0; i < n; i++) {
        printf "int f%d(int x) {\n  int s = x * %d;\n  switch (x & 7) {\n", i, i + 3;
        for (c = 0; c < 8; c++) printf "  case %d: s += %d; break;\n", c, (i * 7 + c * 13) % 101;
        printf "  }\n  if (s %% 5 == %d) { snprintf(buf, sizeof buf, \"f%d %%d\", s); s += (int)strlen(buf); }\n", i % 5, i;
        printf "  for (int k = 0; k < (x & 3); k++) s ^= k * %d;\n  return s;\n}\n", i;
      }
      printf "typedef int (*fn)(int);\nstatic fn table[] = {\n";
      for (i = 0; i < n; i++) printf "f%d,\n", i;
      print "};\nint main(void) {\n  long t = 0;\n  for (unsigned i = 0; i < sizeof table / sizeof table[0]; i++) t += table[i]((int)i);\n  printf(\"%ld\\n\", t);\n  return 0;\n}";
    }'
}

printf '%-14s %10s %9s %10s %9s %10s  %s\n' input bytes seconds "peak MiB" "goal MiB" "nasm s" result
measure() { # name file [bits base]
    name=$1 file=$2
    shift 2
    size=$(stat -c %s "$file")
    /usr/bin/time -f "%e %M" -o "$name.time" "$exe" --disasm-source "$file" "$@" > "$name.src" 2>/dev/null
    read -r secs kb <<EOF
$(tail -n 1 "$name.time")
EOF
    # The peer: nasm on the same printed source, as the build runs it.
    flat=$(grep -c '^org ' "$name.src")
    t0=$(date +%s%N)
    if [ "$flat" -gt 0 ]; then
        nasm -f bin -l "$name.lst" -o "$name.bin" "$name.src" 2>/dev/null
    else
        nasm -f elf64 -g -F dwarf -l "$name.lst" -o "$name.o" "$name.src" 2>/dev/null
    fi
    t1=$(date +%s%N)
    goal=$(( (size * 40) / 1048576 + 64 ))
    printf '%-14s %10d %9s %10d %9d %10s  %s\n' "$name" "$size" "$secs" $((kb / 1024)) "$goal" \
        "$(echo "scale=2; ($t1 - $t0) / 1000000000" | bc)" "$(tail -n 1 "$name.src" | cut -c1-60)"
}

if command -v gcc >/dev/null; then
    gen 3200 > c13.c && gcc -O0 -o c-1.3MB c13.c && measure c-1.3MB c-1.3MB
    if [ "$quick" != --quick ]; then
        gen 25000 > c10.c && gcc -O0 -o c-10MB c10.c && measure c-10MB c-10MB
    fi
fi
head -c 1048576 /dev/zero > zero-1MiB && measure zero-1MiB zero-1MiB 64 0
if [ "$quick" != --quick ]; then
    head -c 8388608 /dev/zero > zero-8MiB && measure zero-8MiB zero-8MiB 64 0
fi
head -c 1048576 /dev/urandom > random-1MiB && measure random-1MiB random-1MiB 64 0
