#!/usr/bin/env bash
# Runs a command inside one private end-to-end environment: a network namespace of its own (loopback only)
# with its own system bus and avahi-daemon, and inside it Xvfb, PulseAudio with null sinks, a private session
# bus and python3-dbusmock's logind and UPower on the namespace's system bus, next to avahi-daemon.
#
#   run-e2e-environment.sh [--tray] [--window-manager] [--keyring] [--pipewire] COMMAND [ARGS...]
#
# --tray, --window-manager and --keyring add trayer and openbox on the X display and an unlocked
# gnome-keyring on the session bus (see run-desktop-services.sh). --pipewire serves the sound through PipeWire
# with WirePlumber and pipewire-pulse (the same null sinks) instead of PulseAudio.
# The command sees DISPLAY, PULSE_SERVER, DBUS_SESSION_BUS_ADDRESS, DBUS_SYSTEM_BUS_ADDRESS, private XDG
# folders, QUILLBRIDGE_TEST_E2E=1 and QUILLBRIDGE_TEST_XVFB_PID (to stop the X server). Everything started
# here dies with the namespace. Exit status 77 (skipped) when namespaces or a service cannot be had here.
set -euo pipefail

here=$(dirname "$(readlink -f "$0")")
tests=$(dirname "$here")

case ${1:-} in
    __inside)
        shift
        export QUILLBRIDGE_TEST_E2E=1
        extra=()
        sound=--pulse
        while [[ ${1:-} == --tray || ${1:-} == --window-manager || ${1:-} == --keyring || ${1:-} == --pipewire ]]; do
            if [[ $1 == --pipewire ]]; then
                sound=--pipewire
            else
                extra+=("$1")
            fi
            shift
        done
        exec bash "$tests/support/run-desktop-services.sh" --x11 "${extra[@]}" "$sound" --session-bus --logind \
            --upower --reuse-system-bus -- "$@"
        ;;
    "")
        echo "usage: run-e2e-environment.sh COMMAND [ARGS...]" >&2
        exit 2
        ;;
    *) exec bash "$tests/platform/avahi/run-in-netns.sh" bash "$(readlink -f "$0")" __inside "$@" ;;
esac
