#!/bin/sh
# Runs the Secret Service tests against a private gnome-keyring-daemon on a private session bus, in a
# private runtime, home and data folder, and stops both daemons whatever happens.
# Usage: run-with-keyring.sh TEST-BINARY
# Exit 77 (skipped) when the daemons are not installed, a failure with QUILLBRIDGE_REQUIRE_SERVICES=1.
set -eu

test_binary=$1
for tool in dbus-daemon gnome-keyring-daemon gdbus; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        if [ "${QUILLBRIDGE_REQUIRE_SERVICES:-0}" = 1 ]; then
            echo "run-with-keyring: $tool is not installed (scripts/install-deps installs it)" >&2
            exit 1
        fi
        echo "run-with-keyring: $tool is not installed; skipping the Secret Service tests"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quillbridge-keyring.XXXXXX")
chmod 700 "$work"
mkdir -m 700 "$work/runtime" "$work/home" "$work/data" "$work/config"
dbus_pid=
keyring_pid=
cleanup() {
    status=$?
    if [ -n "$keyring_pid" ]; then kill "$keyring_pid" 2>/dev/null || true; fi
    if [ -n "$dbus_pid" ]; then kill "$dbus_pid" 2>/dev/null || true; fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
export TMPDIR="$work"
unset DBUS_SESSION_BUS_ADDRESS GNOME_KEYRING_CONTROL

bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 --address="unix:path=$work/runtime/bus")
DBUS_SESSION_BUS_ADDRESS=$(printf '%s\n' "$bus" | sed -n 1p)
dbus_pid=$(printf '%s\n' "$bus" | sed -n 2p)
export DBUS_SESSION_BUS_ADDRESS

printf %s quillbridge-test | timeout 20 gnome-keyring-daemon --unlock --components=secrets >/dev/null
timeout 20 gnome-keyring-daemon --start --components=secrets >/dev/null

# Wait (at most about 10 s) until the Secret Service owns its name.
tries=0
until gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null | grep -q true; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "run-with-keyring: the Secret Service did not start" >&2
        exit 1
    fi
    sleep 0.1
done
keyring_pid=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets | tr -dc '0-9 ' | awk '{print $2}')

export QUILLBRIDGE_TEST_SECRET_SERVICE=1
# The locked-collection test locks the keyring for good: it runs last, on its own.
"$test_binary" --gtest_filter='-*Locked*'
"$test_binary" --gtest_filter='*Locked*'
