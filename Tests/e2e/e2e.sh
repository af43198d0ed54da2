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
checks=0
check() { # description, shell condition
    checks=$((checks + 1))
    if eval "$2" >/dev/null 2>&1; then echo "ok   - $1"; else echo "FAIL - $1"; failures=$((failures + 1)); fi
}

services_dir=$(mktemp -d /tmp/velmor-e2e.XXXXXX)
xvfb_pid=""; tray_pid=""; app_pid=""; receiver_pid=""; a11y_pid=""; silent_pid=""; sni_pid=""; monitor_pid=""
cleanup() {
    # Nothing here stops the audio server early: if it ended, its log says why.
    kill -0 "$pulse_pid" 2>/dev/null || { echo "the audio server ended early:"; tail -n 20 "$services_dir/pulse.log"; }
    stop_pid "$app_pid"; stop_pid "$monitor_pid"; stop_pid "$sni_pid"; stop_pid "$receiver_pid"; stop_pid "$silent_pid"; stop_pid "$tray_pid"; stop_pid "$a11y_pid"
    stop_pid "$xvfb_pid"; stop_services
}
trap cleanup EXIT

# Install the app as a user would get it.
prefix="$services_dir/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "install failed"; exit 1; }
app="$prefix/bin/velmor"
app_id=app.velmor.Velmor
receiver="$prefix/libexec/velmor/velmor-receiver"

start_pulse || exit 1
start_dbus || exit 1
export DISPLAY=:$((90 + $$ % 100))
Xvfb "$DISPLAY" -noreset -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
wait_until 10 xdpyinfo || { echo "Xvfb did not start"; exit 1; }
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
a11y_pid=$!
start_tray() {
    trayer --edge top --align right --widthtype pixel --width 120 --height 24 --transparent false >/dev/null 2>&1 &
    tray_pid=$!
}
start_tray
wait_until 10 sh -c "xwininfo -root -tree | grep -q -i trayer" || { echo "the tray did not start"; exit 1; }
sleep 1

export XDG_CONFIG_HOME="$services_dir/config" TMPDIR="$services_dir/tmp" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
# The installed files are found as a package's would be (the tray symbols in the icon theme).
export XDG_DATA_DIRS="$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR"
"$receiver" --key vl_e2e --data "$services_dir/received" --port 0 >"$services_dir/receiver.out" &
receiver_pid=$!
wait_until 10 test -s "$services_dir/receiver.out" || { echo "the receiver did not start"; exit 1; }
server=$(sed -n 's/.*\(http:[^ ]*\).*/\1/p' "$services_dir/receiver.out")

# Two tones far apart, so the file shows whether each source made it in.
sox -n -r 48000 -c 2 -b 16 "$services_dir/system.wav" synth 4 sine 440 vol 0.3
sox -n -r 48000 -c 2 -b 16 "$services_dir/mic.wav" synth 4 sine 3000 vol 0.3

shot() { import -window root "$shots/$1.png" 2>/dev/null; }
# The panel window alone (the README's picture comes from here).
panel_window() { xdotool search --class velmor 2>/dev/null | while read -r w; do
    [ "$(timeout 5 xwininfo -id "$w" | awk '/Width:/ {print $2}')" -ge 250 ] && echo "$w"; done | head -n1; }
panel_shot() { import -window "$(panel_window)" "$shots/$1.png" 2>/dev/null; }
a11y() { /usr/bin/python3 "$here/a11y.py" "$@" 2>>"$shots/a11y-errors.txt"; }
panel() { a11y dump; }
# Gives a field the focus through the accessibility bus, then types into it as a user would.
# xdotool drops keystrokes of another keyboard layout under load: what the field holds is read
# back, and typed again until it is what was meant (a password field reads back masked).
fill() { # name text [secret]
    for _ in 1 2 3 4 5; do
        a11y focus "$1" && sleep 0.3 && press ctrl+a && type_text "$2"
        [ -n "${3:-}" ] || [ "$(a11y text "$1")" = "$2" ] && return 0
    done
    return 1
}
# (The 10 px window is Qt's hidden group leader.)
tray_icon() { xdotool search --class velmor 2>/dev/null | while read -r w; do
    width=$(timeout 5 xwininfo -id "$w" | awk '/Width:/ {print $2}')
    [ "$width" -le 64 ] && [ "$width" -ge 16 ] && echo "$w"; done | head -n1; }
# The app runs with a session's runtime directory, as a desktop starts it.
mkdir -p -m 700 "$services_dir/runtime"
start_app() {
    XDG_RUNTIME_DIR="$services_dir/runtime" "$app" >"$services_dir/app.log" 2>&1 &
    app_pid=$!
    wait_until 15 xdotool search --class velmor
    sleep 1
}
open_panel() { # clicks the tray icon, once the tray has embedded it (a loaded tray takes a while)
    icon=""
    for _ in $(seq 150); do
        icon=$(tray_icon)
        [ -n "$icon" ] && break
        sleep 0.1
    done
    [ -n "$icon" ] || return 1
    xdotool mousemove --window "$icon" 8 8 click 1
    sleep 1
}
press() { xdotool key --delay 50 "$@"; sleep 0.3; }
type_text() { xdotool type --delay 30 "$1"; sleep 0.3; }
# Both tones reach the file: the level around each is well above silence.
band_level() { ffmpeg -nostdin -i "$1" -af "bandpass=f=$2:w=100,volumedetect" -f null - 2>&1 | sed -n 's/.*mean_volume: -\([0-9]*\).*/\1/p'; }
both_signals() {
    local system mic
    system=$(band_level "$1" 440); mic=$(band_level "$1" 3000)
    echo "system tone -$system dB, microphone tone -$mic dB" >"$shots/levels.txt"
    [ -n "$system" ] && [ -n "$mic" ] && [ "$system" -lt 30 ] && [ "$mic" -lt 30 ]
}
# The icon shown in the tray, compared with how it looked while idle at the start.
idle_icon() { import -window "$(tray_icon)" "$shots/icon-now.png" && compare -metric AE "$shots/icon-idle.png" "$shots/icon-now.png" null: 2>/dev/null; }
record_with_sound() { # screenshot prefix
    press Return # "Начать запись"
    sleep 1
    paplay --device=speakers "$services_dir/system.wav" & local a=$!
    paplay --device=micsink "$services_dir/mic.wav" & local b=$!
    # The meters while both tones play, as a screen reader reads them.
    sleep 1.5
    for _ in 1 2 3 4 5; do
        echo "$(a11y value "Уровень: звук компьютера") $(a11y value "Уровень: микрофон")" >>"$shots/$1-meters.txt"
        sleep 0.3
    done
    wait "$a" "$b"
    shot "$1-recording"
    panel_shot "panel-$1-recording"
    import -window "$(tray_icon)" "$shots/$1-icon-recording.png" 2>/dev/null
    press Return # "Остановить и отправить"
}

start_app
shot 1-started
check "the tray icon is there" 'test -n "$(tray_icon)"'
import -window "$(tray_icon)" "$shots/icon-idle.png" 2>/dev/null
check "the idle icon is the installed symbol, grey on any bar" \
    'convert "$shots/icon-idle.png" -format %c histogram:info:- | grep -qi "#7C7C7C"'
open_panel
shot 2-panel-open
check "the panel shows its settings for a fresh user" 'panel | grep -q "Без ключа записи некуда отправлять."'
# The first field has the focus: the server address.
press ctrl+a; type_text "$server"
fill "Ключ API" "v" secret
check "typing the key's first character hides the settings" '! panel | grep -q "Адрес сервера"'
a11y press "Настройки"   # the gear brings the settings back while the key is being typed
sleep 0.5
fill "Ключ API" "vl_e2e" secret
fill "Название встречи" "Планёрка +1"
record_with_sound 3
# Both tones are at -10.5 dBFS (sine, 0.3 of full scale).
near() { awk -v column="$1" '{ if ($column > best || NR == 1) best = $column } END { exit !(best > -13.5 && best < -7.5) }' "$shots/3-meters.txt"; }
check "while recording, the meters read each tone within 3 dB over the accessibility bus" 'near 1 && near 2'
wait_panel() { for _ in $(seq 60); do panel | grep -q "$1" && return 0; sleep 0.5; done; return 1; }
wait_panel 'Отправлено. Протокол будет через несколько минут.'
shot 4-sent
check "the panel says the recording was sent" 'panel | grep -q "Отправлено. Протокол будет через несколько минут."'
check "the panel links to the meeting" 'panel | grep -q "Открыть встречу в Велмор"'
check "the receiver got one recording" 'test "$(ls "$services_dir/received" 2>/dev/null | wc -l)" = 1'
meeting=$(ls "$services_dir/received" | head -n1)
check "the recording carries the typed title" 'grep -q "\"title\": \"Планёрка +1\"" "$services_dir/received/$meeting/meta.json"'
check "the recording is AAC in MP4 of the right length" \
    'ffprobe -v error -show_entries stream=codec_name:format=duration -of csv=p=0 "$services_dir/received/$meeting/recording.m4a" | tr "\n" " " | grep -Eq "aac .*(3|4|5|6|7)\.[0-9]+"'
check "both signals are in it" 'both_signals "$services_dir/received/$meeting/recording.m4a"'
page=$(curl -s "$server/m/$meeting")
check "the meeting page shows the title and a player" 'echo "$page" | grep -q "<h1>Планёрка +1</h1>" && echo "$page" | grep -q "<audio controls src=\"/m/$meeting/audio\">"'
check "the page's player gets the recording" 'curl -s "$server/m/$meeting/audio" | ffprobe -v error -show_entries stream=codec_name -of csv=p=0 - | grep -q aac'
check "the notification arrived" 'grep -q "\"summary\": \"Запись отправлена\"" "$VELMOR_NOTIFICATION_LOG"'
check "the work directory is gone" '! ls -d "$TMPDIR"/velmor-*-*'
panel_shot panel-4-sent
check "the tray icon showed the recording symbol" '! compare -metric AE "$shots/icon-idle.png" "$shots/3-icon-recording.png" null:'
check "the panel is idle again" 'panel | grep -q "Начать запись"'
check "the tray icon is idle again" 'idle_icon'

# The settings survive a restart; a wrong key fails and keeps the files.
stop_pid "$app_pid"
sed -i 's/^apiKey=.*/apiKey=vl_wrong/' "$XDG_CONFIG_HOME/velmor/velmor.conf"
start_app
open_panel
check "the settings survived a restart" 'panel | grep -q "Начать запись" && ! panel | grep -q "Без ключа записи"'
record_with_sound 5
wait_panel 'Ошибка: Неверный ключ API. Файл сохранён в '
shot 6-failed
check "the panel shows the failure and the kept directory" 'panel | grep -q "Ошибка: Неверный ключ API. Файл сохранён в $TMPDIR/velmor-"'
check "the work directory was kept" 'ls "$TMPDIR"/velmor-*/velmor.m4a'
check "the failure was notified" 'grep -q "\"summary\": \"Не удалось отправить\"" "$VELMOR_NOTIFICATION_LOG"'

# The panel closes on Escape and on a second click on the icon, and opens again on a click.
shown_panel() { timeout 5 xwininfo -id "$(panel_window)" | grep -q IsViewable; }
press Escape
check "Escape closes the panel" '! shown_panel'
open_panel
check "a click on the icon opens it again" 'shown_panel'
# Beside a tray icon the panel is no task: the task bar and Alt+Tab leave it out.
skips_task_bar() { xprop -id "$(panel_window)" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
check "the panel at the icon is left out of the task bar" 'skips_task_bar'
top_of_panel() { xwininfo -id "$(panel_window)" | awk '/Absolute upper-left Y/ {print $4}'; }
top_at_icon=$(top_of_panel)
open_panel
check "a second click closes it" '! shown_panel'

# Faults a user meets: the app killed mid-recording, and "Выйти" during an upload to a server
# that takes the file and never answers. Those two recordings, and the one the wrong key left,
# are offered again from the tray menu and delivered.
/usr/bin/python3 - "$services_dir/silent.port" <<'PY' &
import socket, sys, threading
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen()
with open(sys.argv[1], "w") as port:
    port.write(str(server.getsockname()[1]))
def swallow(connection):
    while connection.recv(65536):
        pass
while True:
    threading.Thread(target=swallow, args=(server.accept()[0],), daemon=True).start()
PY
silent_pid=$!
wait_until 10 test -s "$services_dir/silent.port" || { echo "the silent server did not start"; exit 1; }
received_before=$(ls "$services_dir/received" | wc -l)
open_panel
press Return # "Начать запись"
wait_panel "Идёт запись"
paplay --device=speakers "$services_dir/system.wav"
kill -KILL "$app_pid"
wait "$app_pid" 2>/dev/null # gone, its lock with it, before the next start
sed -i -e 's/^apiKey=.*/apiKey=vl_e2e/' -e "s|^serverURL=.*|serverURL=http://127.0.0.1:$(cat "$services_dir/silent.port")|" \
    "$XDG_CONFIG_HOME/velmor/velmor.conf"
start_app
open_panel
check "after a crash the panel offers both saved recordings" 'wait_panel "Отправить сохранённые записи (2)"'
record_with_sound 7
wait_panel "Отправляем в Велмор…"
a11y press "Выйти"
check "\"Выйти\" ends the process during an upload at once" 'wait_until 1 sh -c "! kill -0 $app_pid"'
sed -i "s|^serverURL=.*|serverURL=$server|" "$XDG_CONFIG_HOME/velmor/velmor.conf"
start_app
xdotool mousemove --window "$(tray_icon)" 8 8 click 3
sleep 1
shot 8-tray-menu
# The menu's second entry (see 8-tray-menu.png), after "Открыть панель": "Отправить
# сохранённые записи (3)".
press Down Down Return
wait_received() { for _ in $(seq 120); do [ "$(ls "$services_dir/received" | wc -l)" -ge "$1" ] && return 0; sleep 0.5; done; return 1; }
check "all three arrived" 'wait_received $((received_before + 3))'
check "no work directory is left" 'wait_until 10 sh -c "! ls -d $TMPDIR/velmor-*-*"'
killed=$(ls -t "$services_dir/received" | sed -n 3p)
check "the recording cut off by the kill holds its sound" 'both_signals "$services_dir/received/$killed/recording.m4a" || test "$(band_level "$services_dir/received/$killed/recording.m4a" 440)" -lt 30'

# One instance per user, whatever the launch's environment (a terminal over ssh has no
# $XDG_RUNTIME_DIR): a second launch shows the first one's panel and ends.
check "a second launch without XDG_RUNTIME_DIR and with another TMPDIR shows the running panel" \
    'timeout 10 env -u XDG_RUNTIME_DIR TMPDIR=/tmp "$app" && wait_until 5 shown_panel'
instances() { for exe in /proc/[0-9]*/exe; do [ "$(readlink "$exe" 2>/dev/null)" = "$(readlink -f "$app")" ] && echo; done | wc -l; }
check "only one instance runs" '[ "$(instances)" = 1 ]'

# Driven from outside, as a key binding or a script does: a launch with --start hands it to the
# running app and ends; the app's D-Bus object tells its state and announces it as it changes,
# says why it cannot do what it is asked; Toggle() stops and sends.
bus_state() {
    gdbus call --session --dest app.velmor.Velmor --object-path /app/velmor/Velmor \
        --method org.freedesktop.DBus.Properties.Get app.velmor.Velmor.Recorder State 2>/dev/null
}
bus_call() { gdbus call --session --dest app.velmor.Velmor --object-path /app/velmor/Velmor --method "app.velmor.Velmor.Recorder.$1" 2>&1; }
dbus-monitor --session "type='signal',path='/app/velmor/Velmor',member='PropertiesChanged'" >"$services_dir/announced" 2>&1 &
monitor_pid=$!
wait_until 5 grep -q NameAcquired "$services_dir/announced"
check "StopAndSend while idle is refused, saying why" 'bus_call StopAndSend | grep -q "Запись не идёт"'
check "a launch with --start hands it over and ends" 'timeout 10 env -u XDG_RUNTIME_DIR "$app" --start'
check "the D-Bus State reads recording" 'wait_until 5 sh -c "$(declare -f bus_state); bus_state | grep -q recording"'
check "a second Start is refused, saying why" 'bus_call Start | grep -q "Запись уже идёт"'
sleep 1.5
check "Toggle() over D-Bus stops and sends" \
    'bus_call Toggle >/dev/null && wait_received $((received_before + 4))'
check "and the State is idle again" 'wait_until 10 sh -c "$(declare -f bus_state); bus_state | grep -q idle"'
check "each change of State was announced" \
    'wait_until 5 grep -q "string \"idle\"" "$services_dir/announced" && grep -q "string \"recording\"" "$services_dir/announced"'
stop_pid "$monitor_pid"
received_before=$((received_before + 1))

# A tray that goes away and comes back (a panel restarting, or starting after the app): the
# panel becomes a window of its own, then moves back behind the icon.
hidden_panel() { ! shown_panel; }
icon_shown() { timeout 5 xwininfo -id "$(tray_icon)" 2>/dev/null | grep -q IsViewable; }
open_panel # the second launch showed it; a click hides it
check "the panel hides before the tray goes" 'wait_until 5 hidden_panel'
stop_pid "$tray_pid"
check "without a tray the panel is a window of its own" 'wait_until 10 shown_panel'
check "a window of its own is a task" '! skips_task_bar'
shot 9-no-tray
start_tray
check "a tray that comes later gets the icon, and the window goes" 'wait_until 10 icon_shown && wait_until 10 hidden_panel'
open_panel
check "a click on the icon opens the panel again" 'shown_panel'
check "the window it was made again is no task" 'skips_task_bar'
check "and it opens against the bar as before, with no frame of the window it was" \
    'test "$(top_of_panel)" = "$top_at_icon"'

# A StatusNotifierItem tray, the kind current desktops have, coming while the app runs: it gets
# the one icon, recoloured by its theme name, with the menu; a click toggles the panel; the icon is
# sent again only when its form changes. When it goes, the XEmbed tray has the icon again.
sni() { /usr/bin/python3 "$here/../support/sni_tray.py" "$@" 2>>"$shots/sni-errors.txt"; }
sni_log="$services_dir/sni.log"
/usr/bin/python3 "$here/../support/sni_tray.py" serve "$sni_log" &
sni_pid=$!
wait_until 10 test -e "$sni_log.ready" || { echo "the StatusNotifierItem tray did not start"; exit 1; }
icon_hidden() { ! icon_shown; }
one_item() { test "$(sni items | wc -l)" = 1; }
check "a StatusNotifierItem tray that comes later gets the item, in place of the XEmbed icon" \
    'wait_until 10 one_item && wait_until 10 icon_hidden'
check "the item names the idle symbol of the icon theme" 'test "$(sni icon)" = "$app_id-idle-symbolic"'
sni activate
check "a click on the item closes the open panel" 'wait_until 5 hidden_panel'
# Clicked on a bar at the bottom of the screen (one that reserves no room here): the panel stands
# above the click and stays there, whole, as it grows with a recording's meters and a warning.
sni activate 640 788
check "and a second click opens it" 'wait_until 5 shown_panel'
bottom_of_panel() { xwininfo -id "$(panel_window)" | awk '/Absolute upper-left Y/ {y = $4} /Height:/ {h = $2} END {print y + h}'; }
above_the_bar() { b=$(bottom_of_panel); [ "$b" -le 788 ] && [ "$b" -ge 700 ] && [ "$(top_of_panel)" -ge 0 ]; }
check "opened from a bottom bar, it stands right above the click" 'above_the_bar'
check "the item's menu offers the panel and quitting, and no saved recordings" \
    'test "$(sni menu | tr "\n" "|")" = "Открыть панель|Выйти|"'
icons_before=$(grep -c NewIcon "$sni_log")
a11y press "Начать запись"
wait_panel "Идёт запись"
wait_panel "00:04"
check "recording, the item names the recording symbol" 'test "$(sni icon)" = "$app_id-recording-symbolic"'
check "four seconds of recording sent the icon once" 'test "$(grep -c NewIcon "$sni_log")" = $((icons_before + 1))'
pactl set-source-mute virtmic 1
wait_panel "Микрофон не слышно"
panel_shot panel-bottom-bar-warning
check "grown by the meters and a warning, it still ends right above the bar" 'above_the_bar'
# The warning's text against the panel, measured in the screenshot.
readable() { r=$(/usr/bin/python3 "$here/contrast.py" "$shots/$1.png" | tee -a "$shots/contrast.txt" | sed -n 's/.*: \([0-9.]*\):1$/\1/p'); [ -n "$r" ] && [ "$(echo "$r >= 4.5" | bc)" = 1 ]; }
check "its warning reads at least 4.5:1 in the default palette" 'readable panel-bottom-bar-warning'
pactl set-source-mute virtmic 0
a11y press "Остановить и отправить"
check "the recording is sent" 'wait_received $((received_before + 4))'
check "idle again, the item names the idle symbol" 'test "$(sni icon)" = "$app_id-idle-symbolic"'
stop_pid "$sni_pid"
check "when that tray goes, the XEmbed tray has the icon again" 'wait_until 10 icon_shown'

# With no tray at all the window is the app. Escape must not hide it, as nothing could bring it
# back: it asks the window manager to minimize it (here, with none, it stays mapped). The window
# manager's close ends the app as "Выйти" does; the recording it was making is kept and offered.
if shown_panel; then open_panel; fi # a click on the icon hides the panel left open above
wait_until 5 hidden_panel
stop_pid "$tray_pid"
wait_until 10 shown_panel
a11y press "Начать запись"
wait_panel "Идёт запись"
window=$(panel_window)
/usr/bin/python3 "$here/wm.py" iconified "$window" 10 >"$services_dir/iconified" &
iconified_pid=$!
wait_until 5 grep -q ready "$services_dir/iconified"
xdotool windowfocus --sync "$window"
press Escape
check "Escape asks to minimize the window and does not hide it" 'wait "$iconified_pid" && shown_panel'
/usr/bin/python3 "$here/wm.py" close "$window"
check "the window manager's close ends the app" 'wait_until 5 sh -c "! kill -0 $app_pid"'
start_app
check "and the recording it was making is offered at the next start" 'wait_panel "Отправить сохранённые записи (1)"'

# Starting with the session: the box in the settings writes the autostart entry, and the session's
# start of that entry brings the app up in the tray without its panel.
entry="$XDG_CONFIG_HOME/autostart/$app_id.desktop"
a11y press "Настройки"
wait_panel "Запускать при входе в систему"
a11y press "Запускать при входе в систему"
check "the box writes an autostart entry that validates" 'wait_until 5 test -f "$entry" && desktop-file-validate "$entry"'
a11y press "Выйти"
wait_until 5 sh -c "! kill -0 $app_pid"
start_tray
wait_until 10 sh -c "xwininfo -root -tree | grep -q -i trayer"
XDG_RUNTIME_DIR="$services_dir/runtime" gio launch "$entry" 2>>"$services_dir/app.log"
check "started as the session starts it, the app comes up in the tray" 'wait_until 15 icon_shown'
app_pid=$(for exe in /proc/[0-9]*/exe; do [ "$(readlink "$exe")" = "$(readlink -f "$app")" ] && basename "${exe%/exe}"; done | head -n1)
check "told that the session started it" 'tr "\\0" " " < "/proc/$app_pid/cmdline" | grep -q -- --autostart'
check "without its panel" 'hidden_panel'

# Under the desktop's dark scheme (Adwaita-dark through the GTK theme) and at 200 %: the panel
# fits the screen, and its warning reads as well as in the default palette.
stop_pid "$app_pid"
# (NO_AT_BRIDGE: GTK would register the process on the accessibility bus a second time, as an
# application that never answers.)
NO_AT_BRIDGE=1 GTK_THEME=Adwaita:dark QT_QPA_PLATFORMTHEME=gtk3 QT_SCALE_FACTOR=2 start_app
open_panel
a11y press "Начать запись"
wait_panel "Идёт запись"
pactl set-source-mute virtmic 1
wait_panel "Микрофон не слышно"
panel_shot panel-dark-2x-warning
fits_screen() { b=$(bottom_of_panel); [ "$(top_of_panel)" -ge 0 ] && [ "$b" -le 800 ]; }
check "at 200 % the panel, grown by a warning, fits the screen" 'fits_screen'
check "in a dark scheme its warning reads at least 4.5:1" 'readable panel-dark-2x-warning'
pactl set-source-mute virtmic 0
a11y press "Остановить и отправить"
check "and the recording is sent" 'wait_received $((received_before + 5))'

echo "screenshots: $shots"
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
