#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the programs, assembles "Kavo Helper.app" and runs the
# main job: one framed "ping" to the bundled host, whose reply is printed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/app"

"$root/scripts/install-packages.sh" build
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBRINDLE_BUILD_TESTS=OFF -DBRINDLE_BUILD_BENCHMARKS=OFF > /dev/null
cmake --build "$build"

host="$build/Kavo Helper.app/Contents/MacOS/brindle-host"
request='{"action":"ping"}'
# 4-byte little-endian length (17), then the body; the reply's 4-byte header is skipped.
printf '\x11\x00\x00\x00%s' "$request" | "$host" | tail -c +5
echo
