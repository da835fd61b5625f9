#!/bin/sh
# Runs every test: the full suite on the normal build, the unit tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, then a short fuzz run.
set -eu
build=${1:-build}
asan=${2:-build-asan}
jobs=$(nproc)

echo "== Tests ($build)"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

echo "== Unit tests under ASan+UBSan ($asan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions="$(pwd)/tests/lsan.supp":print_suppressions=0 \
    ctest --test-dir "$asan" --output-on-failure -j "$jobs" -E '^Cases/'

# Tools run as root must never have replaced a device node.
if [ ! -c /dev/null ]; then
    echo "/dev/null is no longer a character device: a test or tool replaced it" >&2
    exit 1
fi

if [ -x ./scripts/fuzz.sh ]; then
    echo "== Fuzzing the image loader and decoder (bounded)"
    log=$(mktemp)
    if ./scripts/fuzz.sh >"$log" 2>&1; then
        grep -E '^Done [0-9]+ runs' "$log" || tail -n 3 "$log"
        rm -f "$log"
    else
        tail -n 60 "$log"
        echo "fuzzing found a fault (full log: $log)" >&2
        exit 1
    fi
fi
