# Starting and stopping the private services the tests need. Sourced by the test scripts.
# Everything listens on unix sockets in a private directory or on 127.0.0.1 only; every wait is
# bounded, and every server is stopped by its PID.

services_dir=""
pulse_pid=""
pipewire_pid=""
wireplumber_pid=""
dbus_pid=""
notifier_pid=""

# wait_until SECONDS COMMAND...: polls every 0.1 s until COMMAND succeeds.
wait_until() {
    local limit=$(( $1 * 10 )); shift
    local i=0
    until "$@" >/dev/null 2>&1; do
        i=$((i + 1))
        [ "$i" -ge "$limit" ] && return 1
        sleep 0.1
    done
}

stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
}

start_pulse() {
    export PULSE_RUNTIME_PATH="$services_dir/pulse"
    mkdir -p "$PULSE_RUNTIME_PATH"
    export PULSE_SOCKET="$PULSE_RUNTIME_PATH/native"
    export PULSE_SERVER="unix:$PULSE_SOCKET"
    export PULSE_STATE_PATH="$PULSE_RUNTIME_PATH/state"
    export PULSE_COOKIE="$PULSE_RUNTIME_PATH/cookie"
    envsubst < "$(dirname "${BASH_SOURCE[0]}")/pulse.pa" > "$PULSE_RUNTIME_PATH/default.pa"
    HOME="$services_dir" pulseaudio -n -F "$PULSE_RUNTIME_PATH/default.pa" --daemonize=no --exit-idle-time=-1 \
        --disallow-exit --use-pid-file=no --log-target=file:"$services_dir/pulse.log" --system=no \
        >/dev/null 2>&1 &
    pulse_pid=$!
    # The tests that take the server away kill this one, never another test's.
    export VELMOR_TEST_PULSE_PID=$pulse_pid
    if ! wait_until 15 pactl info; then
        echo "the private audio server did not start:" >&2
        cat "$services_dir/pulse.log" >&2 || true
        return 1
    fi
    # Let the devices run before anything records from them.
    sleep 0.5
}

# PipeWire as current desktops run it: pipewire, the WirePlumber session manager and
# pipewire-pulse, which serves the PulseAudio protocol the app speaks. The same devices as above,
# made through that protocol. Needs the session bus (WirePlumber).
start_pipewire() {
    export XDG_RUNTIME_DIR="$services_dir/pipewire"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    unset PULSE_SOCKET PULSE_RUNTIME_PATH
    HOME="$services_dir" pipewire >"$services_dir/pipewire.log" 2>&1 &
    pipewire_pid=$!
    wait_until 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { echo "pipewire did not start" >&2; return 1; }
    # No Bluetooth: its monitor wants systemd-logind and takes WirePlumber down where there is none.
    mkdir -p "$services_dir/config/wireplumber/bluetooth.lua.d"
    echo "bluez_monitor.enabled = false" >"$services_dir/config/wireplumber/bluetooth.lua.d/51-off.lua"
    HOME="$services_dir" XDG_CONFIG_HOME="$services_dir/config" wireplumber >"$services_dir/wireplumber.log" 2>&1 &
    wireplumber_pid=$!
    HOME="$services_dir" pipewire-pulse >"$services_dir/pipewire-pulse.log" 2>&1 &
    pulse_pid=$!
    export VELMOR_TEST_PULSE_PID=$pulse_pid
    if ! wait_until 15 pactl info; then
        echo "pipewire-pulse did not start:" >&2
        cat "$services_dir"/pipewire*.log >&2 || true
        return 1
    fi
    local line
    while read -r line; do
        # shellcheck disable=SC2086 # a module's arguments are separate words
        pactl $line >/dev/null || { echo "pactl $line failed" >&2; return 1; }
    done < <(grep -E '^load-module' "$(dirname "${BASH_SOURCE[0]}")/pulse.pa" | grep -v native-protocol)
    # Defaults are kept by WirePlumber, which may still be starting: until then they are refused.
    while read -r line; do
        # shellcheck disable=SC2086
        wait_until 15 pactl $line || {
            echo "pactl $line failed; WirePlumber said:" >&2
            cat "$services_dir/wireplumber.log" >&2
            return 1
        }
    done < <(grep -E '^set-default' "$(dirname "${BASH_SOURCE[0]}")/pulse.pa")
    sleep 0.5
}

start_dbus() {
    local address_file="$services_dir/dbus-address"
    dbus-daemon --session --nofork --nopidfile --print-address=3 --address="unix:path=$services_dir/bus" \
        3>"$address_file" &
    dbus_pid=$!
    wait_until 10 test -s "$address_file" || { echo "the private D-Bus bus did not start" >&2; return 1; }
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$address_file")
    # The same private bus stands in for the system bus: NetworkManager and logind doubles own
    # their names there when a test starts them.
    export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
    export VELMOR_NOTIFICATION_LOG="$services_dir/notifications.jsonl"
    /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/notification_receiver.py" "$VELMOR_NOTIFICATION_LOG" &
    notifier_pid=$!
    wait_until 10 test -e "$VELMOR_NOTIFICATION_LOG.ready" || { echo "the notification receiver did not start" >&2; return 1; }
}

# The audio server is PulseAudio, or PipeWire when VELMOR_AUDIO_SERVER=pipewire.
start_services() {
    services_dir=$(mktemp -d /tmp/velmor-services.XXXXXX)
    trap stop_services EXIT
    if [ "${VELMOR_AUDIO_SERVER:-pulseaudio}" = pipewire ]; then
        start_dbus && start_pipewire
    else
        start_pulse && start_dbus
    fi
}

stop_services() {
    stop_pid "$notifier_pid"
    stop_pid "$dbus_pid"
    stop_pid "$pulse_pid"
    stop_pid "$wireplumber_pid"
    stop_pid "$pipewire_pid"
    [ -n "$services_dir" ] && rm -rf "$services_dir"
    services_dir=""
}
