#!/usr/bin/env bash
# Builds the libFuzzer targets in Fuzz/ with clang, under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each over its seed corpus (Fuzz/corpus/<target>/), with its
# dictionary (Fuzz/dictionaries/<target>.dict), for the given number of seconds; fails on the first
# crash, hang, leak or sanitizer report, keeping the input that caused it in build/fuzz/crashes/.
# Inputs that reach new code are kept in build/fuzz/corpus/<target>/, so a longer run goes on where
# the last one stopped.
# Usage: scripts/fuzz.sh [seconds per target, default 5]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}

"$root/scripts/install-packages.sh" build test

build="$root/build/fuzz"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_WERROR=ON \
    -DCMAKE_CXX_COMPILER=clang++ -DBRINDLE_FUZZ=ON -DBRINDLE_BUILD_TESTS=OFF \
    -DBRINDLE_BUILD_BENCHMARKS=OFF > /dev/null
cmake --build "$build" --target fuzz

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/crashes"
for seeds in "$root"/Fuzz/corpus/*/; do
    target=$(basename "$seeds")
    mkdir -p "$build/corpus/$target"
    log="$build/$target.log"
    start=$SECONDS
    if ! "$build/Fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -dict="$root/Fuzz/dictionaries/$target.dict" -artifact_prefix="$build/crashes/$target-" \
        "$build/corpus/$target" "$seeds" 2> "$log"; then
        tail -n 60 "$log"
        echo "$target failed; its input is in $build/crashes/" >&2
        exit 1
    fi
    echo "$target: $(grep -o 'cov: [0-9]*' "$log" | tail -n 1), $((SECONDS - start)) s"
done
