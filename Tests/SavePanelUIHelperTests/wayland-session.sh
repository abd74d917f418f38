#!/bin/sh
# Runs a test program as a client of GNOME's compositor, headless, on the session bus this runs
# in (dbus-run-session): Debian's default desktop, without a screen.
command -v mutter > /dev/null || { echo "mutter is not installed: no Wayland compositor to test on"; exit 77; }
XDG_RUNTIME_DIR=$(mktemp -d) || exit 1
export XDG_RUNTIME_DIR
mutter --headless --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display brindle-test \
    > "$XDG_RUNTIME_DIR/mutter.log" 2>&1 &
compositor=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/brindle-test" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/brindle-test" ] || { cat "$XDG_RUNTIME_DIR/mutter.log"; exit 1; }
unset DISPLAY
WAYLAND_DISPLAY=brindle-test QT_QPA_PLATFORM=wayland "$@"
status=$?
kill "$compositor"
wait "$compositor"
rm -rf "$XDG_RUNTIME_DIR"
exit $status
