#!/usr/bin/env bash
# The pairing prompt as a user meets it, inside the end-to-end environment with a window manager and a
# keyring (run-e2e-environment.sh --window-manager --keyring): the installed host, python3-dbusmock's
# notification service on the session bus, and a simulated headset that asks to pair. The host posts the
# pairing notification; a click on it (the service's ActionInvoked) opens the "Pair Vision Pro" window; typing
# the headset's code into it with xdotool pairs the headset, and the window closes by itself.
#
#   pairing-prompt-e2e-test.sh BUILD_DIR INSTALL_PREFIX PAIRING_TOOL OUTPUT_DIR
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin

build=${1:?build folder}
prefix=${2:?install prefix}
tool=${3:?pairing tool}
output=${4:?output folder}
[[ -n ${QUILLBRIDGE_TEST_E2E:-} && -n ${DISPLAY:-} ]] ||
    { echo "SKIPPED: run through tests/e2e/run-e2e-environment.sh --window-manager --keyring"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbridge-pairing.XXXXXX")
mkdir -p "$output"
passed=0 failed=0
host_pid= service_pid= tool_pid=

cleanup() {
    local pid
    cp "$work/host.log" "$work/tool.log" "$work/service.log" "$output/" 2>/dev/null || true
    for pid in "$tool_pid" "$host_pid" "$service_pid"; do
        if [[ -n $pid ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
    done
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/test-checks.sh"

mock() {
    gdbus call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications \
        --method "org.freedesktop.DBus.Mock.$1" "${@:2}"
}
service_up() { mock GetCalls; }
notified() { mock GetMethodCalls Notify | grep -q "Pair Vision Pro"; }
log_has() { grep -q -- "$1" "$work/host.log"; }
visible_window() { xdotool search --onlyvisible --name "^$1\$"; }
no_visible_window() { ! xdotool search --onlyvisible --name "^$1\$"; }
tool_says() { grep -q -- "$1" "$work/tool.log"; }
tool_ended() { ! kill -0 "$tool_pid" 2>/dev/null; }
screenshot() { import -window root "$output/$1.png"; }

# The host program, its menu entry and icons.
DESTDIR=$work/stage cmake --install "$build/src/app" >/dev/null
mkdir -p "$prefix"
mount --bind "$work/stage$prefix" "$prefix"

/usr/bin/python3 -m dbusmock --template notification_daemon >"$work/service.log" 2>&1 &
service_pid=$!
check "the notification service is on the session bus" eventually 20 service_up

# A host whose permission flow was completed in an earlier run: it listens at once.
config=$XDG_CONFIG_HOME/quillbridge
mkdir -p "$config"
printf '{"hasStartedMandatoryPermissionFlow": true, "hasCompletedMandatoryPermissionFlow": true}\n' \
    >"$config/defaults.json"
QUILLBRIDGE_LOG_LEVEL=info "$prefix/bin/quillbridge-host" >"$work/host.log" 2>&1 &
host_pid=$!
check "the host is advertised" eventually 60 log_has "Published service"

"$tool" "Robin's Headset" >"$work/tool.log" 2>&1 &
tool_pid=$!
check "the headset shows its code" eventually 60 tool_says "^code "
code=$(sed -n 's/^code \([0-9]*\)$/\1/p' "$work/tool.log" | head -n 1)
check "the host posts the pairing notification" eventually 30 notified
mock GetMethodCalls Notify >"$output/notify-calls.txt" || true
check "the notification names the headset" grep -q "Robin's Headset is requesting to pair" "$output/notify-calls.txt"

# Without a tray the menu window is on screen from the launch: the prompt shows in it too.
check "the menu window is on screen" eventually 10 visible_window "Quillbridge Host"
sleep 0.5
screenshot menu-inline-prompt

# The user clicks the notification.
mock EmitSignal '' ActionInvoked us "[<uint32 1>, <'default'>]" >/dev/null
check "a click on it opens the pairing window" eventually 20 visible_window "Pair Vision Pro"
window=$(xdotool search --onlyvisible --name '^Pair Vision Pro$' | head -n 1 || true)
sleep 0.5
screenshot pairing-window
[[ -n $window ]] && xdotool windowactivate --sync "$window" >/dev/null 2>&1 || true
check "the pairing window has the keyboard" eventually 10 bash -c \
    "[[ \$(xdotool getactivewindow getwindowname) == 'Pair Vision Pro' ]]"
xdotool type --delay 120 "$code"
sleep 0.3
screenshot pairing-window-typed
xdotool key Return
check "the typed code pairs the headset" eventually 60 tool_ended
wait "$tool_pid" && tool_status=0 || tool_status=$?
tool_pid=
check "the headset reports it is paired" bash -c "[[ $tool_status == 0 ]] && grep -q '^paired' '$work/tool.log'"
check "the pairing window closes by itself" eventually 20 no_visible_window "Pair Vision Pro"
closed() { mock GetMethodCalls CloseNotification | tee "$output/close-calls.txt" | grep -q '<'; }
check "the notification is withdrawn" eventually 20 closed
sleep 0.5
screenshot menu-paired

kill -TERM "$host_pid" 2>/dev/null || true
wait "$host_pid" 2>/dev/null || true
host_pid=
echo "passed $passed, failed $failed"
((failed == 0))
