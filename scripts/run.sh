#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds the programs, assembles "Kavo Helper.app" and runs
# the companion: it installs itself into ~/Applications, registers the host with Chrome and every
# other Chromium-family browser used here, checks that the host answers and prints each step.
# With a display, the installed companion's window then shows the connection state. The exit
# status is 0 when every browser present is connected.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/app"

"$root/scripts/install-packages.sh" build
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLE_WERROR=ON \
    -DBRINDLE_BUILD_TESTS=OFF -DBRINDLE_BUILD_BENCHMARKS=OFF > /dev/null
cmake --build "$build"

"$build/Kavo Helper.app/Contents/MacOS/kavo-helper" --terminal --connect
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
    exec "$HOME/Applications/Kavo Helper.app/Contents/MacOS/kavo-helper"
fi
