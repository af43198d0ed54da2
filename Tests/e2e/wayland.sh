#!/usr/bin/env bash
# Velmor on Wayland, natively: weston's headless compositor, the private audio server, D-Bus with
# the accessibility bus. The app's window is driven through the accessibility bus: with no tray it
# shows the panel on its own, records and stops; then a StatusNotifierItem tray comes (the only
# kind Wayland desktops have), and the app is started again with that tray already there. Last,
# Escape in the tray-less window, in a weston that has a keyboard.
#   wayland.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/services.sh"
services_dir=$(mktemp -d /tmp/velmor-wayland.XXXXXX)
weston_pid=""; app_pid=""; a11y_pid=""; sni_pid=""; xvfb_pid=""; keyed_weston_pid=""
failures=0
checks=0
check() { # description, shell condition
    checks=$((checks + 1))
    if eval "$2" >/dev/null 2>&1; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}
cleanup() {
    stop_pid "$app_pid"; stop_pid "$sni_pid"; stop_pid "$weston_pid"; stop_pid "$keyed_weston_pid"; stop_pid "$xvfb_pid"
    stop_pid "$a11y_pid"; stop_services
}
trap cleanup EXIT

start_pulse || exit 1
start_dbus || exit 1
export XDG_RUNTIME_DIR="$services_dir/runtime" XDG_CONFIG_HOME="$services_dir/config" TMPDIR="$services_dir/tmp"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
weston --backend=headless-backend.so --socket=velmor-wayland --idle-time=0 >"$services_dir/weston.log" 2>&1 &
weston_pid=$!
wait_until 10 test -S "$XDG_RUNTIME_DIR/velmor-wayland" || { echo "weston did not start"; cat "$services_dir/weston.log"; exit 1; }
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
a11y_pid=$!

a11y() { /usr/bin/python3 "$here/a11y.py" "$@" 2>/dev/null; }
panel() { a11y dump; }
wait_panel() { for _ in $(seq 60); do panel | grep -q "$1" && return 0; sleep 0.5; done; return 1; }

start_app() {
    WAYLAND_DISPLAY=velmor-wayland QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
        "$build/Sources/Velmor/velmor" >>"$services_dir/app.log" 2>&1 &
    app_pid=$!
}
sni() { /usr/bin/python3 "$here/../support/sni_tray.py" "$@" 2>/dev/null; }
one_item() { test "$(sni items | wc -l)" = 1; }
ended() { ! kill -0 "$app_pid"; }

start_app
check "the app runs natively on Wayland and, with no tray, shows its panel" 'wait_panel "Начать запись"'
a11y press "Начать запись"
check "the panel starts a recording" 'wait_panel "Идёт запись. Говорите как обычно."'
# Half a second of audio written (a stream's first audio waits for the server's timings), so
# that the recording is not too short to send.
has_audio() { [ "$(stat -c %s "$TMPDIR"/velmor-*/system.caf 2>/dev/null || echo 0)" -gt 200000 ]; }
wait_until 10 has_audio
a11y press "Остановить и отправить"
check "and stops it (no key set: the send fails and keeps the files)" \
    'wait_panel "Ошибка: Не задан ключ API — откройте настройки виджета. Файл сохранён в $TMPDIR/velmor-"'
check "the process is still running" 'kill -0 "$app_pid"'

/usr/bin/python3 "$here/../support/sni_tray.py" serve "$services_dir/sni.log" &
sni_pid=$!
wait_until 10 test -e "$services_dir/sni.log.ready" || { echo "the StatusNotifierItem tray did not start"; exit 1; }
check "a StatusNotifierItem tray that comes later gets the item" 'wait_until 10 one_item'
sni click "Выйти"
check "its menu's \"Выйти\" ends the app" 'wait_until 5 ended'
start_app
check "started with that tray there, the app shows one item (not Qt's beside ours)" 'wait_until 15 one_item && sleep 1 && one_item'
sni activate
check "and a click on it shows the panel" 'wait_panel "Начать запись"'
sni activate
hidden() { ! panel | grep -q "Начать запись"; }
check "a second click hides it" 'wait_until 5 hidden'
stop_pid "$sni_pid"
check "when the tray goes, the panel is a window of its own again" 'wait_panel "Начать запись"'

# Escape in the window with no tray behind it. Headless weston has no keyboard, so this runs in a
# second weston, a window on its own Xvfb whose keys xdotool presses. The client's protocol log
# shows what the app asks of the compositor: to minimize the window, not to unmap it.
stop_pid "$app_pid"
display=:$((90 + $$ % 100))
Xvfb "$display" -noreset -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wait_until 10 env DISPLAY="$display" xdpyinfo || { echo "Xvfb did not start"; exit 1; }
DISPLAY="$display" weston --backend=x11-backend.so --use-pixman --socket=velmor-wayland-keyed --idle-time=0 \
    --width=800 --height=600 >"$services_dir/weston-keyed.log" 2>&1 &
keyed_weston_pid=$!
wait_until 10 test -S "$XDG_RUNTIME_DIR/velmor-wayland-keyed" || { echo "weston on X11 did not start"; exit 1; }
# Its keyboard focus settled before the app comes: a focus change later takes it from the app.
wait_until 10 env DISPLAY="$display" xdotool search --name "Weston Compositor"
DISPLAY="$display" timeout 5 xdotool search --name "Weston Compositor" windowfocus
protocol="$services_dir/app-keyed.log"
WAYLAND_DEBUG=client WAYLAND_DISPLAY=velmor-wayland-keyed QT_QPA_PLATFORM=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$build/Sources/Velmor/velmor" >"$protocol" 2>&1 &
app_pid=$!
check "in a weston with a keyboard, the window shows" 'wait_panel "Начать запись"'
# libwayland writes an object as "name@id" in its debug log, since 1.23 as "name#id".
has_keyboard() { grep -E 'wl_keyboard[@#][0-9]*\.(enter|leave)\(' "$protocol" | tail -n1 | grep -q enter; }
wait_until 5 has_keyboard
DISPLAY="$display" xdotool key --delay 50 Escape
asked_to_minimize() { grep -q 'xdg_toplevel[@#][0-9]*\.set_minimized()' "$protocol"; }
check "Escape asks the compositor to minimize the window, and does not unmap it" \
    'wait_until 5 asked_to_minimize && ! grep -q "xdg_toplevel[@#][0-9]*\.destroy()" "$protocol"'

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
