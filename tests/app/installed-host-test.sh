#!/usr/bin/env bash
# The installed host for real, inside the end-to-end environment with a tray host and a window manager
# (run-e2e-environment.sh --tray --window-manager --keyring): the build is installed as a user installs it, in the
# prefix it was configured with (a staged install mounted over the prefix, in this private mount namespace),
# and started from there.
#
#   installed-host-test.sh BUILD_DIR INSTALL_PREFIX OUTPUT_DIR
#
# With a completed permission flow: the tray icon appears ("ready"), the listener is advertised, a click on
# the icon opens the menu window (with its Virtual Microphone section, since the host carries the microphone's
# package), a second launch hands over its reopen and exits, the tray's context menu opens the About window,
# SIGTERM shuts down cleanly (the advertisement withdrawn, the sinks unmuted, exit status 0). At a first launch:
# the setup window opens by itself with the attention icon, and a second launch brings it forward over another
# window; two SIGTERMs end the host at once. The permission flow: "Set Up Permissions" and "Done" complete it on this desktop and the
# host keeps running; closing the setup window quits. Without a tray host: the menu window shows at launch.
# Screenshots go to OUTPUT_DIR.
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin

build=${1:?build folder}
prefix=${2:?install prefix}
output=${3:?output folder}
[[ -n ${QUILLBRIDGE_TEST_E2E:-} && -n ${QUILLBRIDGE_TEST_TRAYER_PID:-} ]] ||
    { echo "SKIPPED: run through tests/e2e/run-e2e-environment.sh --tray --window-manager --keyring"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbridge-installed.XXXXXX")
mkdir -p "$output"
passed=0 failed=0
host_pid=

cleanup() {
    [[ -n $host_pid ]] && kill -KILL "$host_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/test-checks.sh"

DESTDIR=$work/stage cmake --install "$build" >/dev/null
mkdir -p "$prefix"
mount --bind "$work/stage$prefix" "$prefix"
program=$prefix/bin/quillbridge-host
config=$XDG_CONFIG_HOME/quillbridge

start_host() {
    local name=$1
    "$program" >"$work/$name.log" 2>&1 &
    host_pid=$!
}

# Ends the host with the given signals, one after the other; its exit status.
stop_host() {
    local status=0 signal
    for signal in "$@"; do kill -"$signal" "$host_pid" 2>/dev/null || true; done
    wait "$host_pid" || status=$?
    host_pid=
    return $status
}

log_has() { grep -q -- "$2" "$work/$1.log"; }
visible_window() { xdotool search --onlyvisible --name "^$1\$"; }
active_window_is() { [[ $(xdotool getactivewindow getwindowname 2>/dev/null) == "$1" ]]; }

# The bottom-right corner of the screen, where trayer shows the icons.
tray_area=640x40+1280+1040
screenshot() { import -window root "$work/$1.png"; cp "$work/$1.png" "$output/$1.png"; }
# Pixels of one colour in the tray area of a screenshot, as "x y" lines in screen coordinates.
tray_pixels() {
    convert "$work/$1.png" -crop "$tray_area" +repage txt:- |
        awk -v colour="$2" 'toupper($0) ~ colour { split($1, at, /[,:]/); print at[1] + 1280, at[2] + 1040 }'
}
# Whether the tray shows an icon of the colour: at least a few of its pixels.
tray_shows() {
    screenshot "$1"
    (($(tray_pixels "$1" "$2" | wc -l) >= 20))
}
advertised() { avahi-browse -rpt _quillbridge._udp 2>/dev/null | grep -q '^='; }
not_advertised() { ! advertised; }
no_sink_muted() { ! pactl list sinks | grep -q 'Mute: yes'; }
second_launch_exits() { timeout 10 "$program" >"$work/second.log" 2>&1; }

ready_grey='#A0AEC0'
attention_orange='#DD6B20'

# 1. A host whose permission flow was completed in an earlier run.
mkdir -p "$config"
printf '{"hasStartedMandatoryPermissionFlow": true, "hasCompletedMandatoryPermissionFlow": true}\n' \
    >"$config/defaults.json"
start_host completed
check "the listener is advertised" eventually 60 log_has completed "Published service"
check "avahi-browse finds the host" eventually 30 advertised
check "the tray shows the ready icon" eventually 30 tray_shows tray-ready "$ready_grey"
check "no attention badge when ready" bash -c "! (($(tray_pixels tray-ready "$attention_orange" | wc -l) > 0))"
read -r icon_x icon_y < <(tray_pixels tray-ready "$ready_grey" |
    awk '{ x += $1; y += $2; n++ } END { if (n) printf "%d %d\n", x / n, y / n }')
check "the icon was found in the tray" test -n "${icon_x:-}"
xdotool mousemove "${icon_x:-1900}" "${icon_y:-1064}" click 1
check "a click on the icon opens the menu window" eventually 10 visible_window "Quillbridge Host"
screenshot menu-window
xdotool mousemove 400 400 click 1
check "a click elsewhere closes it" eventually 10 bash -c "! xdotool search --onlyvisible --name '^Quillbridge Host\$'"
check "a second launch hands over its reopen and exits" second_launch_exits
check "the reopen shows the menu window" eventually 10 visible_window "Quillbridge Host"
check "only one host runs" kill -0 "$host_pid"
xdotool mousemove 400 400 click 1
eventually 10 bash -c "! xdotool search --onlyvisible --name '^Quillbridge Host\$'" || true
# The tray's context menu, then its first entry. On a loaded machine the menu may not be up when the keys
# arrive: the user would simply try again.
about_from_tray_menu() {
    local attempt
    for attempt in 1 2 3 4 5; do
        xdotool mousemove "${icon_x:-1900}" "${icon_y:-1064}" click 3
        sleep 1
        xdotool key Down Return
        eventually 10 visible_window "About Quillbridge Host" && return 0
        xdotool key Escape
    done
    return 1
}
check "About Quillbridge Host in the tray's menu opens the About window" about_from_tray_menu
screenshot about-window
check "the About window is active" eventually 10 active_window_is "About Quillbridge Host"
check "SIGTERM ends the host with status 0" stop_host TERM
check "the advertisement was withdrawn" log_has completed "Withdrew service"
check "avahi no longer lists the host" eventually 15 not_advertised
check "the sinks are not muted" no_sink_muted
check "the shutdown left no error in the log" bash -c "! grep -E 'fault|ERROR|Sanitizer' '$work/completed.log'"

# 2. A first launch: the setup window opens by itself, and a second launch brings it forward.
rm -f "$config/defaults.json"
start_host first
check "the setup window opens at a first launch" eventually 30 visible_window "Quillbridge Host Setup"
check "the tray shows the attention icon" eventually 30 tray_shows tray-attention "$attention_orange"
xmessage -geometry +700+400 "Another application" &
other=$!
check "another window takes the focus" eventually 10 active_window_is xmessage
screenshot setup-behind
check "a second launch exits" second_launch_exits
check "the second launch brought the setup window forward" eventually 10 active_window_is "Quillbridge Host Setup"
screenshot setup-forward
kill "$other" 2>/dev/null || true
check "two SIGTERMs end the host at once with status 0" stop_host TERM TERM

# 2b. The permission flow on this desktop: "Set Up Permissions" checks every grant for real (the X display, XTEST,
# the sound server's monitor, the local network through Avahi); "Done" completes the flow and the host keeps
# running. Closing the setup window instead quits the host.
setup_window() { xdotool search --onlyvisible --name '^Quillbridge Host Setup$' | head -1; }
press_return_in_setup() {
    local window
    window=$(setup_window) && [[ -n $window ]] && xdotool windowactivate --sync "$window" key Return
}
flow_flag() { grep -q "\"$1\": *true" "$config/defaults.json" 2>/dev/null; }
completed_by_done() { press_return_in_setup >/dev/null 2>&1 || true; sleep 0.5; flow_flag hasCompletedMandatoryPermissionFlow; }
check "the host carries the microphone's package beside its metadata" test -f \
    "$prefix/share/quillbridge/SystemMicrophone/Install Quillbridge Microphone.deb" -a -f \
    "$prefix/share/quillbridge/SystemMicrophone/QuillbridgeMicrophoneMetadata.plist"
check "the permission help page is installed" grep -q 'id="local-network"' "$prefix/share/quillbridge/help/permissions.html"
rm -f "$config/defaults.json"
start_host setup
check "the setup window opens for the flow" eventually 30 visible_window "Quillbridge Host Setup"
check "Set Up Permissions is pressed with Return" press_return_in_setup
check "the start of the flow is stored" eventually 10 flow_flag hasStartedMandatoryPermissionFlow
check "the flow resolves Local Network: the listener is advertised" eventually 60 advertised
sleep 1
screenshot setup-granted
check "Done (Return) completes the flow once everything is granted" eventually 30 completed_by_done
check "Done closes the setup window" eventually 10 bash -c "[[ -z \$(xdotool search --onlyvisible --name '^Quillbridge Host Setup\$') ]]"
check "the host keeps running after Done" kill -0 "$host_pid"
check "SIGTERM then ends it with status 0" stop_host TERM
printf '{"hasStartedMandatoryPermissionFlow": true}\n' >"$config/defaults.json"
start_host setup-close
check "a later launch opens the setup window again" eventually 30 visible_window "Quillbridge Host Setup"
window=$(setup_window || true)
xdotool windowactivate --sync "${window:-0}" key alt+F4 || true
# Ended (a zombie until waited for) or gone.
host_ended() { local state; state=$(ps -o stat= -p "$host_pid" 2>/dev/null) || return 0; [[ $state == Z* ]]; }
check "closing the setup window quits the host" eventually 30 host_ended
host_ended || kill -KILL "$host_pid" 2>/dev/null || true
check "with status 0" stop_host
check "the flow was not completed" bash -c "! grep -q hasCompletedMandatoryPermissionFlow '$config/defaults.json'"

# 3. No tray host: the menu window is an ordinary window, shown at launch.
kill -TERM "$QUILLBRIDGE_TEST_TRAYER_PID"
eventually 10 bash -c '! xwininfo -root -tree | grep -q "\"panel\""' || true
printf '{"hasStartedMandatoryPermissionFlow": true, "hasCompletedMandatoryPermissionFlow": true}\n' \
    >"$config/defaults.json"
start_host notray
check "without a tray the menu window shows at launch" eventually 30 visible_window "Quillbridge Host"
check "the host says why" eventually 10 log_has notray "No system tray"
screenshot no-tray
check "SIGTERM ends the host without a tray" stop_host TERM

for name in completed first setup setup-close notray; do
    cp "$work/$name.log" "$output/$name.log" 2>/dev/null || true
done
echo "$passed passed, $failed failed"
((failed == 0))
