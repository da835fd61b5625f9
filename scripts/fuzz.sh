#!/bin/sh
# Builds the libFuzzer targets for the image loader and decoder and for the
# debug console with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs each on its seed corpus for a bounded time.
#   scripts/fuzz.sh [seconds]      (default 30)
# The build directory is build-fuzz, or $QX_FUZZ_BUILD when set. New inputs
# found during the run go to a scratch corpus inside it, never into the tree.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
build=${QX_FUZZ_BUILD:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DQX_FUZZ=ON -DQX_SANITIZE=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
ninja -C "$build" binimage_fuzz console_fuzz

scratch="$build/fuzz-corpus"
mkdir -p "$scratch" "$build/console-corpus"
"$build/tests/binimage_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    "$scratch" "$root/tests/fuzz/corpus"
exec "$build/tests/console_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
    "$build/console-corpus" "$root/tests/fuzz/console-corpus"
