#!/usr/bin/env bash
# Runs a command next to private desktop services, each in a private runtime and home folder, and stops
# them all when the command ends, whatever happens. Start it once per test suite, not once per test.
#
#   run-desktop-services.sh [--x11] [--tray] [--window-manager] [--pulse | --pipewire] [--session-bus] \
#       [--system-bus] [--logind] [--upower] -- COMMAND [ARGS...]
#
#   --x11          Xvfb 1920x1080x24 with RANDR (DISPLAY, QUILLBRIDGE_TEST_X11=1); QUILLBRIDGE_TEST_SCREEN_SIZE
#                  (WIDTHxHEIGHT) sizes it otherwise
#   --tray         an XEmbed system tray (trayer, 32 px high, at the bottom right) on that display
#                  (QUILLBRIDGE_TEST_TRAYER_PID; implies --x11)
#   --window-manager  openbox on that display, which activates windows on request (_NET_ACTIVE_WINDOW)
#                  (implies --x11)
#   --pulse        PulseAudio with two null sinks, "quillbridge_sink_a" (default) and "quillbridge_sink_b"
#                  (PULSE_SERVER, QUILLBRIDGE_TEST_PULSE=1)
#   --pipewire     PipeWire with WirePlumber and pipewire-pulse on a private session bus (headless: null
#                  drivers), with the same two null sinks as --pulse made through pipewire-pulse
#                  (PULSE_SERVER, PIPEWIRE_RUNTIME_DIR, QUILLBRIDGE_TEST_PIPEWIRE=1, QUILLBRIDGE_TEST_PULSE=1)
#   --session-bus  a private session bus (DBUS_SESSION_BUS_ADDRESS)
#   --keyring      gnome-keyring-daemon's Secret Service on that bus, its login collection unlocked as after a
#                  desktop login (implies --session-bus)
#   --system-bus   a private, permissive system bus (DBUS_SYSTEM_BUS_ADDRESS, QUILLBRIDGE_TEST_SYSTEM_BUS=1)
#   --logind       python3-dbusmock's logind template on that system bus (QUILLBRIDGE_TEST_LOGIND=1)
#   --upower       python3-dbusmock's upower template on that system bus (QUILLBRIDGE_TEST_UPOWER=1)
#   --reuse-system-bus  the mocks use the system bus in DBUS_SYSTEM_BUS_ADDRESS (one the caller started, for
#                  example a private network namespace's) instead of a bus of their own
#
# With --x11 the X server's process ID is in QUILLBRIDGE_TEST_XVFB_PID, and with --pulse PulseAudio's in
# QUILLBRIDGE_TEST_PULSE_PID, for tests that stop them.
#
# Nothing here opens a network socket: X11 listens on a Unix socket only (-nolisten tcp), the buses and
# the sound server on Unix sockets in the private runtime folder. Exit status 77 (skipped) when a service
# cannot be had on this machine; with QUILLBRIDGE_REQUIRE_SERVICES=1 (set by scripts/test, after install-deps
# has installed every service) that is a failure instead.
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin

want_keyring=0 want_x11=0 want_tray=0 want_window_manager=0 want_pulse=0 want_pipewire=0 want_session_bus=0 want_system_bus=0 want_logind=0 want_upower=0
reuse_system_bus=0
while (($# > 0)); do
    case $1 in
        --x11) want_x11=1 ;;
        --tray) want_tray=1 want_x11=1 ;;
        --window-manager) want_window_manager=1 want_x11=1 ;;
        --pulse) want_pulse=1 ;;
        --pipewire) want_pipewire=1 want_session_bus=1 ;;
        --session-bus) want_session_bus=1 ;;
        --keyring) want_keyring=1 want_session_bus=1 ;;
        --system-bus) want_system_bus=1 ;;
        --logind) want_logind=1 want_system_bus=1 ;;
        --upower) want_upower=1 want_system_bus=1 ;;
        --reuse-system-bus) reuse_system_bus=1 ;;
        --) shift; break ;;
        *) echo "run-desktop-services: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
((want_pulse && want_pipewire)) &&
    { echo "run-desktop-services: --pulse and --pipewire both serve the sound server; choose one" >&2; exit 2; }
(($# > 0)) || { echo "usage: run-desktop-services.sh [services] -- COMMAND [ARGS...]" >&2; exit 2; }

skip() {
    if [[ ${QUILLBRIDGE_REQUIRE_SERVICES:-0} == 1 ]]; then
        echo "FAILED: $* (a required service; scripts/install-deps installs every one)" >&2
        exit 1
    fi
    echo "SKIPPED: $*"
    exit 77
}
need() {
    command -v "$1" >/dev/null 2>&1 || skip "$1 is not installed (scripts/install-deps installs it)"
}

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbridge-desktop.XXXXXX")
chmod 700 "$work"
mkdir -m 700 "$work/runtime" "$work/home" "$work/config" "$work/data" "$work/cache" "$work/state"
pids=()
cleanup() {
    local status=$?
    local pid
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
        kill -KILL "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state
unset DBUS_SESSION_BUS_ADDRESS PULSE_SERVER DISPLAY
if ((reuse_system_bus)); then
    [[ -n ${DBUS_SYSTEM_BUS_ADDRESS:-} ]] ||
        { echo "run-desktop-services: --reuse-system-bus needs DBUS_SYSTEM_BUS_ADDRESS" >&2; exit 2; }
fi

# Waits until a command succeeds, at most $1 seconds.
wait_until() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

if ((want_x11)); then
    need Xvfb
    Xvfb -displayfd 3 -screen 0 "${QUILLBRIDGE_TEST_SCREEN_SIZE:-1920x1080}x24" +extension RANDR -nolisten tcp -noreset \
        3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_until 10 test -s "$work/display" || { cat "$work/xvfb.log" >&2; skip "Xvfb did not start"; }
    export DISPLAY=:$(tr -dc '0-9' <"$work/display")
    export QUILLBRIDGE_TEST_X11=1 QUILLBRIDGE_TEST_XVFB_PID=${pids[-1]}
    # The command runs against this X server, whatever session the caller sits in.
    unset WAYLAND_DISPLAY
    export XDG_SESSION_TYPE=x11
fi

if ((want_window_manager)); then
    need openbox
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_until 10 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
        { cat "$work/openbox.log" >&2; skip "openbox did not start"; }
fi

if ((want_tray)); then
    need trayer
    need xprop
    trayer --edge bottom --align right --widthtype request --height 32 --SetDockType true --transparent false \
        --expand true >"$work/trayer.log" 2>&1 &
    pids+=($!)
    export QUILLBRIDGE_TEST_TRAYER_PID=${pids[-1]}
    # The tray is there once its window is mapped on the screen.
    wait_until 10 bash -c 'xwininfo -root -tree | grep -q "\"panel\""' ||
        { cat "$work/trayer.log" >&2; skip "trayer did not start"; }
fi

if ((want_session_bus)); then
    need dbus-daemon
    bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 --address="unix:path=$work/runtime/bus")
    DBUS_SESSION_BUS_ADDRESS=$(printf '%s\n' "$bus" | sed -n 1p)
    pids+=("$(printf '%s\n' "$bus" | sed -n 2p)")
    export DBUS_SESSION_BUS_ADDRESS
fi

if ((want_keyring)); then
    need gnome-keyring-daemon
    unset GNOME_KEYRING_CONTROL
    printf %s quillbridge-test | timeout 20 gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1 ||
        skip "gnome-keyring-daemon did not unlock its collection"
    timeout 20 gnome-keyring-daemon --start --components=secrets >/dev/null 2>&1 || true
    wait_until 10 bash -c 'gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets | grep -q true' ||
        skip "the Secret Service did not start"
    pids+=("$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets | tr -dc '0-9 ' |
        awk '{ print $2 }')")
fi

if ((want_system_bus && reuse_system_bus)); then
    export QUILLBRIDGE_TEST_SYSTEM_BUS=1
elif ((want_system_bus)); then
    need dbus-daemon
    cat >"$work/system-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/runtime/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
  </policy>
</busconfig>
CONF
    bus=$(dbus-daemon --config-file="$work/system-bus.conf" --fork --print-address=1 --print-pid=1)
    DBUS_SYSTEM_BUS_ADDRESS=$(printf '%s\n' "$bus" | sed -n 1p)
    pids+=("$(printf '%s\n' "$bus" | sed -n 2p)")
    export DBUS_SYSTEM_BUS_ADDRESS QUILLBRIDGE_TEST_SYSTEM_BUS=1
fi

# Starts a python3-dbusmock template on the private system bus and waits for its bus name.
start_mock() {
    local template=$1 name=$2
    /usr/bin/python3 -c 'import dbusmock' 2>/dev/null || skip "python3-dbusmock is not installed"
    /usr/bin/python3 -m dbusmock --system --template "$template" >"$work/mock-$template.log" 2>&1 &
    pids+=($!)
    wait_until 15 bash -c "gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner $name | grep -q true" ||
        { cat "$work/mock-$template.log" >&2; echo "run-desktop-services: $template mock did not start" >&2; exit 1; }
}
((want_logind)) && { start_mock logind org.freedesktop.login1; export QUILLBRIDGE_TEST_LOGIND=1; }
((want_upower)) && { start_mock upower org.freedesktop.UPower; export QUILLBRIDGE_TEST_UPOWER=1; }

if ((want_pulse)); then
    need pulseaudio
    mkdir -m 700 -p "$work/runtime/pulse"
    cat >"$work/pulse.pa" <<CONF
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/runtime/pulse/native
load-module module-null-sink sink_name=quillbridge_sink_a rate=48000 sink_properties="device.description='Quillbridge Test Sink A'"
load-module module-null-sink sink_name=quillbridge_sink_b rate=48000 sink_properties="device.description='Quillbridge Test Sink B'"
set-default-sink quillbridge_sink_a
CONF
    pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit=yes -n -F "$work/pulse.pa" \
        --log-target=stderr >"$work/pulse.log" 2>&1 &
    pids+=($!)
    export PULSE_SERVER=unix:$work/runtime/pulse/native QUILLBRIDGE_TEST_PULSE_PID=${pids[-1]}
    wait_until 15 pactl info || { cat "$work/pulse.log" >&2; skip "PulseAudio did not start"; }
    export QUILLBRIDGE_TEST_PULSE=1
fi

if ((want_pipewire)); then
    for tool in pipewire wireplumber pipewire-pulse pw-cli pactl; do need "$tool"; done
    # WirePlumber keeps mute and default choices under XDG_STATE_HOME, fresh here. No Bluetooth monitor: it
    # follows the seat through logind, which a private namespace cannot offer WirePlumber.
    mkdir -p "$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d"
    echo '-- Bluetooth stays off in tests.' >"$XDG_CONFIG_HOME/wireplumber/bluetooth.lua.d/90-enable-all.lua"
    pipewire >"$work/pipewire.log" 2>&1 &
    pids+=($!)
    wait_until 15 pw-cli info 0 || { cat "$work/pipewire.log" >&2; skip "PipeWire did not start"; }
    wireplumber >"$work/wireplumber.log" 2>&1 &
    pids+=($!)
    pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 &
    pids+=($!)
    export PULSE_SERVER=unix:$work/runtime/pulse/native PIPEWIRE_RUNTIME_DIR=$work/runtime
    wait_until 15 pactl info || { cat "$work/pipewire-pulse.log" >&2; skip "pipewire-pulse did not start"; }
    # WirePlumber has linked its session when its own client is there.
    wait_until 15 bash -c 'pw-cli ls Client | grep -qi wireplumber' ||
        { cat "$work/wireplumber.log" >&2; skip "WirePlumber did not start"; }
    for sink in a b; do
        pactl load-module module-null-sink sink_name=quillbridge_sink_$sink rate=48000 \
            sink_properties="device.description='Quillbridge Test Sink ${sink^^}'" >/dev/null
    done
    wait_until 15 bash -c 'pactl list short sinks | grep -q quillbridge_sink_b' || skip "the null sinks did not appear"
    pactl set-default-sink quillbridge_sink_a
    export QUILLBRIDGE_TEST_PIPEWIRE=1 QUILLBRIDGE_TEST_PULSE=1
fi

status=0
"$@" || status=$?
exit $status
