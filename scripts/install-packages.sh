#!/usr/bin/env bash
# Installs the Debian packages named in the given lists (scripts/packages-*.txt).
# Usage: scripts/install-packages.sh build [test]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=()
for list in "$@"; do
    while read -r name; do
        [[ -z "$name" || "$name" == \#* ]] && continue
        packages+=("$name")
    done < "$here/packages-$list.txt"
done

missing=()
for name in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' || missing+=("$name")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
