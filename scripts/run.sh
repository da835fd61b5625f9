#!/bin/sh
# Starts the program on its bundled example: the window under a desktop,
# the modes without a window elsewhere.
set -u
exe=${1:-build/qxferndockassembleride}
here=$(cd "$(dirname "$0")/.." && pwd)
example="$here/examples/hello.asm"

demo() {
    echo "$1: showing the modes without a window on $example instead."
}
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$exe" "$example"
    status=$?
    # 1 is the one code of a window that could not open.
    [ $status -ne 1 ] && exit $status
    demo "The window did not open"
else
    demo "No display"
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
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
