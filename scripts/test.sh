#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the whole test suite.
# BRINDLE_SANITIZE=1 builds and runs it under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-packages.sh" build test package

if [[ "${BRINDLE_SANITIZE:-0}" == 1 ]]; then
    build="$root/build/asan"
    options=(-DCMAKE_BUILD_TYPE=Debug -DBRINDLE_SANITIZE=ON -DBRINDLE_BUILD_BENCHMARKS=OFF)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    build="$root/build/test"
    options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi

cmake -S "$root" -B "$build" -G Ninja -DBRINDLE_WERROR=ON "${options[@]}" > /dev/null
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 600
