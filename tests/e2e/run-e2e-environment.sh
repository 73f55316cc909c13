#!/usr/bin/env bash
# Runs a command inside one private end-to-end environment: a network namespace of its own (loopback only)
# with its own system bus and avahi-daemon, and inside it Xvfb, PulseAudio with null sinks, a private session
# bus and python3-dbusmock's logind and UPower on the namespace's system bus, next to avahi-daemon.
#
#   run-e2e-environment.sh [--tray] [--window-manager] [--keyring] [--pipewire] [--installed BUILD_DIR] \
#       COMMAND [ARGS...]
#
# --tray, --window-manager and --keyring add trayer and openbox on the X display and an unlocked
# gnome-keyring on the session bus (see run-desktop-services.sh). --pipewire serves the sound through PipeWire
# with WirePlumber and pipewire-pulse (the same null sinks) instead of PulseAudio.
# --installed BUILD_DIR installs that build as `cmake --install` does for a user (scripts/run), into the prefix
# it was configured with: a staged install mounted over the prefix in this private mount namespace, so the
# machine's own prefix is never written. The command sees the prefix in QUILLBRIDGE_TEST_PREFIX. With
# --pipewire the installed microphone program runs too, as its user service would, started once the sound
# server is up (its process ID in QUILLBRIDGE_TEST_MICROPHONE_PID); the host starts the installed camera
# extension itself, from beside its own program, when no user service manager is there.
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
        build=
        while [[ ${1:-} == --tray || ${1:-} == --window-manager || ${1:-} == --keyring || ${1:-} == --pipewire ||
            ${1:-} == --installed ]]; do
            case $1 in
                --pipewire) sound=--pipewire ;;
                --installed)
                    build=${2:?--installed needs the build folder}
                    shift
                    ;;
                *) extra+=("$1") ;;
            esac
            shift
        done
        companions=()
        if [[ -n $build ]]; then
            companions=(bash "$(readlink -f "$0")" __companions "$build" "$sound")
        fi
        exec bash "$tests/support/run-desktop-services.sh" --x11 "${extra[@]}" "$sound" --session-bus --logind \
            --upower --reuse-system-bus -- "${companions[@]}" "$@"
        ;;
    __companions)
        # Inside the desktop services (whose private folders go when they stop): the build installed over its
        # prefix, the installed microphone program next to PipeWire, then the command.
        build=$2 sound=$3
        shift 3
        prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$build/CMakeCache.txt")
        [[ -n $prefix ]] || { echo "run-e2e-environment: no install prefix in $build" >&2; exit 2; }
        stage=$(dirname "$HOME")/installed
        DESTDIR=$stage cmake --install "$build" >"$stage.log" 2>&1 ||
            { cat "$stage.log" >&2; echo "run-e2e-environment: cmake --install $build failed" >&2; exit 1; }
        mkdir -p "$prefix"
        mount --bind "$stage$prefix" "$prefix"
        export QUILLBRIDGE_TEST_PREFIX=$prefix
        microphone_pid=
        if [[ $sound == --pipewire ]]; then
            "$prefix/bin/quillbridge-microphone" >"$XDG_RUNTIME_DIR/quillbridge-microphone.log" 2>&1 &
            microphone_pid=$!
            export QUILLBRIDGE_TEST_MICROPHONE_PID=$microphone_pid
        fi
        status=0
        "$@" || status=$?
        if [[ -n $microphone_pid ]]; then kill -TERM "$microphone_pid" 2>/dev/null || true; fi
        exit $status
        ;;
    "")
        echo "usage: run-e2e-environment.sh [options] COMMAND [ARGS...]" >&2
        exit 2
        ;;
    *) exec bash "$tests/platform/avahi/run-in-netns.sh" bash "$(readlink -f "$0")" __inside "$@" ;;
esac
