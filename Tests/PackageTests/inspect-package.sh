#!/usr/bin/env bash
# Builds the package from the build folder $1 into a scratch folder and checks what it would
# install: the bundle without copies of Debian's programs, the manifests as links into it, the
# dependencies dpkg-shlibdeps cannot see, and no lintian error or warning.
set -euo pipefail
build=$1 version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack -G DEB -B "$scratch" --config "$build/CPackConfig.cmake" > "$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$scratch/kavo-helper_${version}_amd64.deb
[[ -f $deb ]] || { ls "$scratch"; echo "FAIL: no $deb"; exit 1; }

bundle="./opt/Kavo Helper.app"
manifest="/opt/Kavo Helper.app/Contents/Resources/NativeMessagingHosts/com.vantle.brindle.json"
contents=$(dpkg-deb --contents "$deb")
for entry in "$bundle/Contents/MacOS/brindle-host" "$bundle/Contents/MacOS/kavo-helper" \
    "$bundle/Contents/Helpers/BrindleSaveUI.app/Contents/MacOS/brindle-save-ui" \
    "$bundle/Contents/Info.plist" ".$manifest" \
    ./usr/share/applications/com.vantle.kavo.helper.desktop \
    ./usr/share/icons/hicolor/scalable/apps/com.vantle.kavo.helper.svg; do
    grep -qF " $entry" <<< "$contents" || fail "missing $entry"
done
for folder in etc/opt/chrome etc/chromium etc/opt/edge; do
    grep -qF "./$folder/native-messaging-hosts/com.vantle.brindle.json -> $manifest" <<< "$contents" ||
        fail "no link to the manifest in /$folder"
done
# Root's, writable by no one else; no plain file under /etc, which dpkg would keep on removal.
awk '$2 != "root/root" || ($1 !~ /^l/ && (substr($1, 6, 1) == "w" || substr($1, 9, 1) == "w"))' \
    <<< "$contents" | grep . && fail "entries not root's or writable by others"
grep -E '^-.* \./etc/' <<< "$contents" && fail "a plain file under /etc"
grep -E '/(Tools|ffmpeg|ffprobe|cwebp)(/| |$)' <<< "$contents" && fail "a copy of Debian's tools"

depends=$(dpkg-deb --field "$deb" Depends)
for package in ffmpeg webp libcurl4 libplist3 qt6-qpa-plugins libqt6widgets6; do
    grep -qE "(^|, )$package( |,|$)" <<< "$depends" || fail "Depends lacks $package: $depends"
done
[[ $(dpkg-deb --field "$deb" Version) == "$version" ]] || fail "version is not $version"

dpkg-deb -x "$deb" "$scratch/root"
python3 - "$scratch/root" "$manifest" <<'PYTHON' || fail "the manifest"
import json, os, sys
root, path = sys.argv[1], sys.argv[2]
manifest = json.load(open(root + path))
host = "/opt/Kavo Helper.app/Contents/MacOS/brindle-host"
assert manifest["name"] == "com.vantle.brindle", manifest
assert manifest["type"] == "stdio" and manifest["description"], manifest
assert manifest["path"] == host, manifest
assert manifest["allowed_origins"] == ["chrome-extension://pmoihgkcfjbalendpmoihgkcfjbalend/"]
assert os.access(root + host, os.X_OK), "the manifest names no program of the package"
PYTHON
desktop-file-validate "$scratch/root/usr/share/applications/com.vantle.kavo.helper.desktop" ||
    fail "the menu entry"

lintian --tag-display-limit 0 "$deb" > "$scratch/lintian.log" 2>&1 || true
grep -E '^[EW]: ' "$scratch/lintian.log" && fail "lintian"
exit $((failures > 0))
