#!/usr/bin/env bash
# Installs the Debian package on this machine and checks it as a new user would meet it, then
# purges it. Needs root; changes the machine (the package, a user "kavo-check" for the run).
#   scripts/check-package-install.sh [path/to/kavo-helper_<version>_amd64.deb]
# Without a path it builds the package with scripts/package.sh first.
#  1. `apt-get install --no-install-recommends` of the package file: the dependencies suffice.
#  2. The bundle in /opt is root's and writable by no one else; the browsers' manifests are links.
#  3. A real headless Chromium, run by an unprivileged user with an empty home, finds the host
#     through /etc/chromium/native-messaging-hosts. The manifest allows only the production
#     extension, whose key no test has: Chromium must refuse our test extension access (not say
#     there is no host); then, in a mount namespace of its own, the package's manifest file gets
#     a copy that also allows the test extension, bound over it, and the extension gets a reply.
#  4. The companion, run by that user, counts the system-wide manifest as connected and leaves
#     removal to the package manager. That user's host converts a PNG with Debian's cwebp and shows the save panel on an Xvfb
#     display (screenshot kept), into which a name is typed.
#  5. `apt-get remove`, then `purge`, leave nothing of the package; the user's data folder stays.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[[ $(id -u) -eq 0 ]] || { echo "run as root: it installs a package and adds a user" >&2; exit 2; }
deb=${1:-$("$root/scripts/package.sh" | tail -n 1)}
deb=$(realpath "$deb")
"$root/scripts/install-packages.sh" test

user=kavo-check
if id "$user" > /dev/null 2>&1; then
    echo "a user \"$user\" exists already; this check adds and removes its own" >&2
    exit 1
fi
scratch=$(mktemp -d /tmp/kavo-check.XXXXXX)
chmod 755 "$scratch"
home="$scratch/home"
artifacts="$root/build/package/install-check"
mkdir -p "$artifacts"
created_user=false
cleanup() {
    # Only the user this run added, never an account of that name the machine already had.
    if $created_user; then
        pkill -KILL -u "$user" 2>/dev/null || true
        userdel "$user" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
check() { # description, command...
    local what=$1; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

bundle="/opt/Kavo Helper.app"
manifest="$bundle/Contents/Resources/NativeMessagingHosts/com.vantle.brindle.json"
# What of the package's tree the machine had before (/opt, /usr/share/applications...) stays.
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$' > "$scratch/files"
while read -r path; do
    [[ -e $path || -L $path ]] && echo "$path"
done < "$scratch/files" > "$scratch/existing"
echo "== install $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" > "$scratch/apt.log" 2>&1 ||
    { cat "$scratch/apt.log"; exit 1; }
check "the bundle is root's and writable by no one else" \
    test -z "$(find "$bundle" \( ! -user root -o ! -group root -o -perm /022 \) ! -type l)"
check "no copies of Debian's tools in the bundle" test ! -e "$bundle/Contents/Resources/Tools"
for folder in /etc/opt/chrome /etc/chromium /etc/opt/edge; do
    check "$folder's manifest is a link to the package's" \
        test "$(readlink "$folder/native-messaging-hosts/com.vantle.brindle.json")" = "$manifest"
done
check "no conffiles" test -z "$(dpkg-query -W -f='${Conffiles}' kavo-helper)"

useradd --create-home --home-dir "$home" --shell /bin/bash "$user"
created_user=true
as_user() { setpriv --reuid="$user" --regid="$user" --init-groups --reset-env env HOME="$home" "$@"; }
check "the new user's home is empty" test -z "$(ls -A "$home" | grep -v '^\.\(bash\|profile\)')"

# Native messaging as the extension does it: 4-byte native-endian length, then JSON.
cat > "$scratch/message.py" <<'PYTHON'
import json, struct, subprocess, sys
host, request = sys.argv[1], sys.argv[2]
body = request.encode()
out = subprocess.run([host, "chrome-extension://pmoihgkcfjbalendpmoihgkcfjbalend/"],
                     input=struct.pack("=I", len(body)) + body, capture_output=True, timeout=120).stdout
length = struct.unpack("=I", out[:4])[0] if len(out) >= 4 else 0
print(out[4:4 + length].decode())
PYTHON

echo "== Chromium as $user"
extension="$scratch/extension"
cp -r "$root/Tests/ResourceSourceHostTests/ChromiumExtension" "$extension"
origin="chrome-extension://jjpieeohabdfmmngaljcdpecgckkbnma/"
python3 - "$manifest" "$origin" > "$scratch/test-manifest.json" <<'PYTHON'
import json, sys
manifest = json.load(open(sys.argv[1]))
manifest["allowed_origins"].append(sys.argv[2])
print(json.dumps(manifest))
PYTHON
chmod -R a+rX "$scratch"
chromium_report() { # [bind]: the test extension's report, as the unprivileged user
    local port report=$scratch/report.json
    rm -f "$report"
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    echo "const reportURL = 'http://127.0.0.1:$port/report';" > "$extension/report.js"
    python3 - "$port" "$report" <<'PYTHON' &
import http.server, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        open(sys.argv[2], "wb").write(self.rfile.read(int(self.headers["Content-Length"])))
        self.send_response(204); self.end_headers()
    def log_message(self, *args): pass
server = http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
server.timeout = 120
server.handle_request()
PYTHON
    local server=$!
    local bind=true
    [[ ${1:-} == bind ]] && bind="mount --bind '$scratch/test-manifest.json' '$manifest'"
    timeout 120 unshare --mount --propagation private sh -c "$bind && exec setpriv --reuid=$user \
        --regid=$user --init-groups --reset-env env HOME='$home' /usr/bin/chromium --headless=new \
        --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
        --disable-component-update --disable-sync \
        --disable-features=DisableLoadExtensionCommandLineSwitch \
        --load-extension='$extension' about:blank" > "$scratch/chromium.log" 2>&1 &
    local browser=$!
    wait "$server" || true
    pkill -KILL -u "$user" chromium 2>/dev/null || true
    wait "$browser" 2>/dev/null || true
    cat "$report" 2>/dev/null || { echo "no report; Chromium said:"; tail -20 "$scratch/chromium.log"; }
}
refused=$(chromium_report)
echo "$refused"
check "Chromium finds the package's host and refuses another extension" \
    grep -q '"nativeMessagingError": *"Access to the specified native messaging host is forbidden."' <<< "$refused"
replied=$(chromium_report bind)
echo "$replied"
check "Chromium starts the package's host for an allowed extension, which replies" \
    grep -q '"ping": *{"ok": *true' <<< "$replied"

echo "== the host as $user"
as_user ffmpeg -loglevel error -f lavfi -i color=red:s=64x64 -frames:v 1 "$home/red.png"
optimized=$(as_user python3 "$scratch/message.py" "$bundle/Contents/MacOS/brindle-host" \
    "{\"action\":\"optimizeImage\",\"path\":\"$home/red.png\",\"pageUrl\":\"https://example.com/\"}")
echo "$optimized"
check "the host converts with Debian's cwebp" grep -q '"ok":true' <<< "$optimized"
check "into a WebP file" sh -c "file '$home'/red.webp | grep -q 'Web/P'"

status=$(as_user "$bundle/Contents/MacOS/kavo-helper" --terminal --status 2>&1) && code=0 || code=$?
echo "$status"
check "the companion counts the system-wide manifest as connected" \
    sh -c "test $code -eq 0 && grep -q '本机助手已连接' <<'TEXT'
$status
TEXT"
disconnected=$(as_user "$bundle/Contents/MacOS/kavo-helper" --terminal --disconnect 2>&1) || true
echo "$disconnected"
check "a disconnect names the browsers the package still connects" \
    grep -q "Google Chrome 仍通过系统范围的连接文件连接" <<< "$disconnected"
removal=$(as_user "$bundle/Contents/MacOS/kavo-helper" --terminal --uninstall 2>&1) || true
echo "$removal"
check "the companion leaves removal to the package manager" grep -q "apt remove kavo-helper" <<< "$removal"
check "and changes nothing" test -x "$bundle/Contents/MacOS/kavo-helper"

mkdir -p "$home/dest" && chown "$user:" "$home/dest"
cat > "$scratch/panel.sh" <<PANEL
set -u
python3 "$scratch/message.py" "$bundle/Contents/MacOS/brindle-host" \
    '{"action":"chooseSaveDestination","suggestedFilename":"photo.png","startingDirectory":"$home/dest","panelTitle":"Save <b>the</b> report"}' > "$home/panel-reply.json" &
host=\$!
timeout 60 xdotool search --sync --onlyvisible --name "Save <b>the</b> report" > /dev/null
sleep 1
xwd -root -silent -out "$home/save-panel.xwd"
xdotool type --delay 40 report
xdotool key Return
wait \$host
PANEL
chmod a+r "$scratch/panel.sh"
as_user xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- bash "$scratch/panel.sh" || true
panel=$(cat "$home/panel-reply.json" 2>/dev/null || true)
echo "$panel"
check "the save panel shows for $user and answers with the typed name" \
    grep -qF "\"path\":\"$home/dest/report.png\"" <<< "$panel"
if [[ -f $home/save-panel.xwd ]]; then
    ffmpeg -loglevel error -y -i "$home/save-panel.xwd" "$artifacts/save-panel.png" &&
        echo "     screenshot: $artifacts/save-panel.png"
fi
data_folder=$(find "$home/.local/share" -maxdepth 1 -name Brindle 2>/dev/null || true)

echo "== remove, then purge"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq kavo-helper > "$scratch/apt.log" 2>&1 ||
    { cat "$scratch/apt.log"; exit 1; }
check "apt remove keeps no record of configuration files" \
    test -z "$(dpkg-query -W -f='${db:Status-Abbrev}' kavo-helper 2>/dev/null)"
# Nothing is left for purge to do when remove kept no record; it would not find the package.
if dpkg-query -W kavo-helper > /dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kavo-helper > "$scratch/apt.log" 2>&1 ||
        { cat "$scratch/apt.log"; exit 1; }
fi
left=()
while read -r path; do
    [[ -e $path || -L $path ]] || continue
    grep -qxF "$path" "$scratch/existing" || dpkg-query -S "$path" > /dev/null 2>&1 || left+=("$path")
done < "$scratch/files"
check "nothing of the package is left" test ${#left[@]} -eq 0
((${#left[@]} == 0)) || printf '     left: %s\n' "${left[@]}"
check "the user's own data folder stays" test "${data_folder:-none}" = none -o -d "${data_folder:-/}"
echo "== $failures failed"
exit $((failures > 0))
