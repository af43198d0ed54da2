#!/usr/bin/env bash
# The tray's panel on a layer-shell compositor: sway's headless backend, a StatusNotifierItem tray
# on a private bus. A click on the item opens the panel as a layer surface pinned to the screen's
# top right corner (the tray tells no icon position), not as a window the compositor places.
# Needs sway and grim and a build with LayerShellQt; not part of CTest (sway is no test package,
# and refuses to run as root: run as root, the script runs itself as nobody).
#   sway.sh BUILD_DIR
set -u
if [ "$(id -u)" = 0 ]; then
    exec setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH="$PATH" LANG=C.UTF-8 bash "$0" "$@"
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/services.sh"
services_dir=$(mktemp -d /tmp/velmor-sway.XXXXXX)
export HOME="$services_dir"
sway_pid=""; app_pid=""; sni_pid=""
failures=0
check() { # description, shell condition
    if eval "$2" >/dev/null 2>&1; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}
cleanup() {
    [ "$failures" -eq 0 ] || swaymsg -t get_tree >/tmp/velmor-sway-tree.json 2>/dev/null
    stop_pid "$app_pid"; stop_pid "$sni_pid"; stop_pid "$sway_pid"
    # What the app asked of the compositor, kept when something failed.
    [ "$failures" -eq 0 ] || cp "$services_dir/app.log" /tmp/velmor-sway-app.log 2>/dev/null
    stop_services
}
trap cleanup EXIT

start_dbus || exit 1
export XDG_RUNTIME_DIR="$services_dir/runtime" XDG_CONFIG_HOME="$services_dir/config" TMPDIR="$services_dir/tmp"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR"
printf 'output * resolution 1280x800 bg #102030 solid_color\n' >"$services_dir/sway.conf"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$services_dir/sway.conf" \
    >"$services_dir/sway.log" 2>&1 &
sway_pid=$!
display() { ls "$XDG_RUNTIME_DIR" | grep -m1 '^wayland-[0-9]*$'; }
wait_until 15 display || { echo "sway did not start"; tail "$services_dir/sway.log"; exit 1; }
export WAYLAND_DISPLAY=$(display) SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* 2>/dev/null | head -n1)

sni() { /usr/bin/python3 "$here/../support/sni_tray.py" "$@" 2>/dev/null; }
/usr/bin/python3 "$here/../support/sni_tray.py" serve "$services_dir/sni.log" &
sni_pid=$!
wait_until 10 test -e "$services_dir/sni.log.ready" || { echo "the StatusNotifierItem tray did not start"; exit 1; }
WAYLAND_DEBUG=1 QT_QPA_PLATFORM=wayland "$build/Sources/Velmor/velmor" >"$services_dir/app.log" 2>&1 &
app_pid=$!
one_item() { test "$(sni items | wc -l)" = 1; }
check "the tray gets the item" 'wait_until 15 one_item'
sni activate
# libwayland writes objects as name@id (Debian 12) or name#id (Debian 13).
anchored() { grep -Eq 'zwlr_layer_surface_v1[@#][0-9]+\.set_anchor\(9\)' "$services_dir/app.log"; }
check "a click opens the panel as a layer surface anchored top and right" 'wait_until 20 anchored'
in_tree() { swaymsg -t get_tree | grep -q '"app_id": "app.velmor.Velmor"'; }
check "it is no window of sway's tree" '! in_tree'
# The corner on screen: the panel's light background, not sway's dark one.
light() { grim -g "$1" - | convert png:- -format '%[fx:mean>0.5]' info: | grep -qx 1; }
check "and shows there, in the top right corner" 'sleep 1 && light "1270,10 4x4" && ! light "640,400 4x4"'
grim /tmp/velmor-sway.png 2>/dev/null
# Without a tray the panel is a window of its own, which the compositor places.
stop_pid "$sni_pid"
check "when the tray goes, the panel is a window in sway's tree" 'wait_until 10 in_tree'
# And when a tray comes back, the panel at it is pinned again.
rm -f "$services_dir/sni.log.ready"
/usr/bin/python3 "$here/../support/sni_tray.py" serve "$services_dir/sni.log" &
sni_pid=$!
wait_until 10 test -e "$services_dir/sni.log.ready"
wait_until 15 one_item && sni activate
anchored_again() { [ "$(grep -Ec 'zwlr_layer_surface_v1[@#][0-9]+\.set_anchor\(9\)' "$services_dir/app.log")" -ge 2 ]; }
check "a tray that comes back opens it pinned again, no longer a window" 'wait_until 20 anchored_again && wait_until 10 sh -c "! swaymsg -t get_tree | grep -q app.velmor.Velmor"'
echo "screenshot: /tmp/velmor-sway.png"
echo "$failures failed"
[ "$failures" -eq 0 ]
