#!/usr/bin/env bash
# Velmor tried as a user would: a real X server with a tray, the app built for installation, the
# private audio server, D-Bus with a notification receiver and the accessibility bus, and the
# local receiver. Clicks the tray icon, fills the panel, records while sound plays, sends, and
# checks what arrived, what was notified and what the panel and the icon show.
#   e2e.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/services.sh"
shots="$build/e2e-screenshots"
rm -rf "$shots"; mkdir -p "$shots"
failures=0
check() { # description, command...
    if "${@:2}" >/dev/null 2>&1; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}

services_dir=$(mktemp -d /tmp/velmor-e2e.XXXXXX)
xvfb_pid=""; tray_pid=""; app_pid=""; receiver_pid=""; a11y_pid=""
cleanup() {
    stop_pid "$app_pid"; stop_pid "$receiver_pid"; stop_pid "$tray_pid"; stop_pid "$a11y_pid"
    stop_pid "$xvfb_pid"; stop_services
}
trap cleanup EXIT

# Install the app as a user would get it.
prefix="$services_dir/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "install failed"; exit 1; }
app="$prefix/bin/velmor"
receiver="$prefix/libexec/velmor/velmor-receiver"

start_pulse || exit 1
start_dbus || exit 1
export DISPLAY=:$((90 + $$ % 100))
Xvfb "$DISPLAY" -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wait_until 10 xdpyinfo || { echo "Xvfb did not start"; exit 1; }
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
a11y_pid=$!
trayer --edge top --align right --widthtype pixel --width 120 --height 24 --transparent false >/dev/null 2>&1 &
tray_pid=$!
wait_until 10 sh -c "xwininfo -root -tree | grep -q -i trayer" || { echo "the tray did not start"; exit 1; }
sleep 1

export XDG_CONFIG_HOME="$services_dir/config" TMPDIR="$services_dir/tmp" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR"
"$receiver" --key vl_e2e --data "$services_dir/received" --port 0 >"$services_dir/receiver.out" &
receiver_pid=$!
wait_until 10 test -s "$services_dir/receiver.out" || { echo "the receiver did not start"; exit 1; }
server=$(sed -n 's/.*\(http:[^ ]*\).*/\1/p' "$services_dir/receiver.out")

bench="$build/bench/velmor-bench-mixdown"
"$bench" generate music 4 "$services_dir/music.caf" && sox "$services_dir/music.caf" -b 16 "$services_dir/music.wav"
"$bench" generate speech 4 "$services_dir/speech.caf" && sox "$services_dir/speech.caf" -b 16 "$services_dir/speech.wav"

shot() { import -window root "$shots/$1.png" 2>/dev/null; }
panel() { /usr/bin/python3 "$here/panel_state.py" velmor 2>/dev/null; }
tray_icon() { xdotool search --class velmor 2>/dev/null | while read -r w; do
    [ "$(xwininfo -id "$w" | awk '/Width:/ {print $2}')" -le 64 ] && echo "$w"; done | head -n1; }
start_app() {
    "$app" >"$services_dir/app.log" 2>&1 &
    app_pid=$!
    wait_until 15 sh -c "[ -n \"\$(xdotool search --class velmor 2>/dev/null)\" ]"
    sleep 1
}
open_panel() { # clicks the tray icon
    icon=$(tray_icon)
    [ -n "$icon" ] || return 1
    xdotool mousemove --window "$icon" 8 8 click 1
    sleep 1
}
press() { xdotool key --delay 50 "$@"; sleep 0.3; }
type_text() { xdotool type --delay 30 "$1"; sleep 0.3; }
record_with_sound() {
    press Return # "Начать запись"
    sleep 1
    paplay --device=speakers "$services_dir/music.wav" & local a=$!
    paplay --device=micsink "$services_dir/speech.wav" & local b=$!
    wait "$a" "$b"
    shot 3-recording
    press Return # "Остановить и отправить"
}

start_app
shot 1-started
check "the tray icon is there" test -n "$(tray_icon)"
open_panel
shot 2-panel-open
check "the panel shows its settings for a fresh user" sh -c "panel | grep -q 'Без ключа записи некуда отправлять.'"
# The first field has the focus: the server address, then the key, then the title.
press ctrl+a; type_text "$server"
press Tab
type_text "v"     # the first character hides the settings section; the gear brings it back
check "typing the key's first character hides the settings" sh -c "! panel | grep -q 'Адрес сервера'"
press shift+Tab shift+Tab shift+Tab
press space       # the gear
press Tab Tab End; type_text "l_e2e"
press Tab; type_text "Планёрка +1"
record_with_sound
wait_until 30 sh -c "panel | grep -q 'Отправлено. Протокол будет через несколько минут.'"
shot 4-sent
check "the panel says the recording was sent" sh -c "panel | grep -q 'Отправлено. Протокол будет через несколько минут.'"
check "the panel links to the meeting" sh -c "panel | grep -q 'Открыть встречу в Велмор'"
check "the receiver got one recording" test "$(ls "$services_dir/received" 2>/dev/null | wc -l)" = 1
meeting=$(ls "$services_dir/received" | head -n1)
check "the recording carries the typed title" grep -q '"title": "Планёрка +1"' "$services_dir/received/$meeting/meta.json"
check "the recording is AAC in MP4 of the right length" sh -c \
    "ffprobe -v error -show_entries stream=codec_name:format=duration -of csv=p=0 '$services_dir/received/$meeting/recording.m4a' | tr '\n' ' ' | grep -Eq 'aac .*(3|4|5|6)\.[0-9]+'"
check "both signals are in it" sh -c "ffmpeg -nostdin -i '$services_dir/received/$meeting/recording.m4a' -af volumedetect -f null - 2>&1 | grep -q 'mean_volume: -[12][0-9]'"
check "the notification arrived" grep -q '"summary": "Запись отправлена"' "$VELMOR_NOTIFICATION_LOG"
check "the work directory is gone" sh -c "! ls -d '$TMPDIR'/velmor-* 2>/dev/null"
check "the icon is idle again" sh -c "panel | grep -q 'Начать запись'"

# The settings survive a restart; a wrong key fails and keeps the files.
stop_pid "$app_pid"
sed -i 's/^apiKey=.*/apiKey=vl_wrong/' "$XDG_CONFIG_HOME/velmor/velmor.conf"
start_app
open_panel
check "the settings survived a restart" sh -c "grep -q '^serverURL=$server' '$XDG_CONFIG_HOME/velmor/velmor.conf'"
record_with_sound
wait_until 30 sh -c "panel | grep -q 'Ошибка: Неверный ключ API. Файл сохранён в '"
shot 5-failed
check "the panel shows the failure and the kept directory" sh -c "panel | grep -q 'Ошибка: Неверный ключ API. Файл сохранён в $TMPDIR/velmor-'"
check "the work directory was kept" sh -c "ls '$TMPDIR'/velmor-*/velmor.m4a"
check "the failure was notified" grep -q '"summary": "Не удалось отправить"' "$VELMOR_NOTIFICATION_LOG"

echo "screenshots: $shots"
total=17
echo "$((total - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
