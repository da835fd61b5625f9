#!/bin/sh
# Starts the program on its bundled example. Until the window is part of the
# build, the modes that work without a window run on the example instead.
set -u
exe=${1:-build/qxferndockassembleride}
here=$(cd "$(dirname "$0")/.." && pwd)
example="$here/examples/hello.asm"

"$exe" "$example"
status=$?
[ $status -eq 0 ] && exit 0

echo
echo "== The window is not built yet: running the modes without a window on $example instead."
out=$(mktemp -d)
cp "$example" "$out/hello.asm"
echo
echo "== $exe --build hello.asm"
"$exe" --build "$out/hello.asm" || exit 1
echo
echo "== $exe --disasm hello"
"$exe" --disasm "$out/hello"
echo
echo "== $exe --trace hello 4"
"$exe" --trace "$out/hello" 4
echo
echo "== $exe --disasm-source hello"
"$exe" --disasm-source "$out/hello" | tail -n 5
rm -rf "$out"
