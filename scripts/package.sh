#!/usr/bin/env bash
# Builds the Release programs (in the same folder as scripts/run.sh, so a build made there is
# reused) and the Debian package build/package/kavo-helper_<version>_amd64.deb, which installs
# Kavo Helper for every user of the machine. Prints the package's path as its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/app"

"$root/scripts/install-packages.sh" build package
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRINDLE_WERROR=ON \
    -DBRINDLE_BUILD_TESTS=OFF -DBRINDLE_BUILD_BENCHMARKS=OFF > /dev/null
cmake --build "$build"
cpack -G DEB -B "$root/build/package" --config "$build/CPackConfig.cmake" > /dev/null
name=$(sed -n 's/^set(CPACK_DEBIAN_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
rm -rf "$root/build/package/_CPack_Packages"
echo "$root/build/package/$name"
