#!/usr/bin/env bash
# Counts non-blank, non-comment lines of C++ in Sources/ and Tests/ and prints their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    find "$@" \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | awk '
        /^[[:space:]]*\/\*/ { block = 1 }
        block { if ($0 ~ /\*\//) block = 0; next }
        /^[[:space:]]*(\/\/.*)?$/ { next }
        { lines++ }
        END { print lines + 0 }'
}

sources=$(count Sources)
tests=$(count Tests)
echo "sources $sources, tests $tests, tests/sources $((100 * tests / sources))%"
