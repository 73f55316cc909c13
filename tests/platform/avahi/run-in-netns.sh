#!/usr/bin/env bash
# Runs a command next to a private dbus-daemon and avahi-daemon of its own, inside fresh network, mount
# and PID namespaces, so that no multicast ever leaves this machine.
#
#   run-in-netns.sh COMMAND [ARGS...]
#
# The command finds this script in QUILLBRIDGE_AVAHI_NETNS_SCRIPT and may call, from inside (with bash):
#   run-in-netns.sh stop-daemon       stops the namespace's avahi-daemon and waits until it is gone
#   run-in-netns.sh start-daemon      starts it again and waits until it is ready
#   run-in-netns.sh peer COMMAND...   runs COMMAND on a second host: a namespace of its own with its own
#                                     dbus-daemon and avahi-daemon, joined to this one by a veth pair
#
# Exit status 77 means the namespaces could not be made here (no root, or unsharing is not permitted); CTest
# reports the test as skipped.
# Every process started inside dies with the namespace's first process, whatever happens.
set -euo pipefail
# ip and avahi-daemon live in sbin, which a user's PATH may lack.
export PATH=$PATH:/usr/sbin:/sbin

script=$(readlink -f "$0")
skip_status=77
readiness_seconds=10

# The veth pair of the two-host tests and its addresses, which exist only inside the test's namespaces.
host_veth=qbveth0
peer_veth=qbveth1
peer_netns=qbpeer
host_veth_address=10.213.77.1/24
peer_veth_address=10.213.77.2/24

die() {
    echo "run-in-netns: $*" >&2
    exit 1
}

skip() {
    echo "SKIPPED: $*"
    exit $skip_status
}

# A tool that install-deps installs: missing, it is a failure when QUILLBRIDGE_REQUIRE_SERVICES=1 (scripts/test),
# a skip otherwise. Only what install-deps cannot give (root, permission to unshare) always skips.
missing() {
    if [[ ${QUILLBRIDGE_REQUIRE_SERVICES:-0} == 1 ]]; then
        echo "FAILED: $* (scripts/install-deps installs it)" >&2
        exit 1
    fi
    skip "$@"
}

# Refuses to go on unless this process is in a network namespace that the test made: the machine's own
# namespace (recorded before the first unshare) is never touched, and no interface but loopback and the
# test's own veth end may be present.
require_private_netns() {
    [[ -n ${QUILLBRIDGE_AVAHI_HOST_NETNS:-} ]] || die "not started through run-in-netns.sh"
    [[ $(readlink /proc/self/ns/net) != "$QUILLBRIDGE_AVAHI_HOST_NETNS" ]] ||
        die "refusing to run in the machine's own network namespace"
    local name
    while read -r name; do
        case $name in
            lo | "$host_veth" | "$peer_veth") ;;
            *) die "refusing to run next to interface $name" ;;
        esac
    done < <(ip -o link show | awk -F': ' '{ split($2, parts, "@"); print parts[1] }')
}

# A process is gone once it has exited, even when it waits as a zombie for its parent.
process_alive() {
    local pid=$1 state
    [[ -r /proc/$pid/stat ]] || return 1
    state=$(sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f1) || return 1
    [[ -n $state && $state != Z && $state != X ]]
}

runtime=/run/quillbridge-avahi

# Makes this namespace a small host: loopback up, a tmpfs over /run, a private system bus and the
# configuration of its avahi-daemon (started separately). $1 is the host name, $2 the interfaces avahi
# may use.
prepare_host() {
    local host_name=$1 interfaces=$2
    require_private_netns
    ip link set lo up
    ip link set lo multicast on

    mount -t tmpfs -o mode=0755 quillbridge-run /run
    mkdir -p /run/dbus /run/avahi-daemon "$runtime"
    chmod 0700 "$runtime"
    # Service files of the machine would be published too; the test's daemon publishes only its own.
    if [[ -d /etc/avahi/services ]]; then
        mount -t tmpfs -o mode=0755 quillbridge-services /etc/avahi/services
    fi

    cat >"$runtime/dbus-system.conf" <<'EOF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <pidfile>/run/dbus/pid</pidfile>
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
EOF
    cat >"$runtime/avahi-daemon.conf" <<EOF
[server]
host-name=$host_name
use-ipv4=yes
use-ipv6=no
allow-interfaces=$interfaces
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-hinfo=no
publish-workstation=no

[reflector]
enable-reflector=no
EOF

    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket
    dbus-daemon --config-file="$runtime/dbus-system.conf" --fork --print-pid=3 3>"$runtime/dbus-daemon.pid" ||
        die "dbus-daemon did not start"
}

start_daemon() {
    require_private_netns
    local log=$runtime/avahi-daemon.log
    [[ ! -e $runtime/avahi-daemon.pid ]] || die "avahi-daemon is already running"
    rm -f /run/avahi-daemon/pid
    : >"$log"
    avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$runtime/avahi-daemon.conf" \
        </dev/null >>"$log" 2>&1 &
    local pid=$!
    echo "$pid" >"$runtime/avahi-daemon.pid"
    local deadline=$((SECONDS + readiness_seconds))
    until grep -q "Server startup complete" "$log"; do
        if ! process_alive "$pid"; then
            cat "$log" >&2
            die "avahi-daemon exited while starting"
        fi
        if ((SECONDS >= deadline)); then
            cat "$log" >&2
            die "avahi-daemon was not ready within ${readiness_seconds} s"
        fi
        sleep 0.05
    done
}

stop_daemon() {
    require_private_netns
    [[ -e $runtime/avahi-daemon.pid ]] || return 0
    local pid
    pid=$(<"$runtime/avahi-daemon.pid")
    rm -f "$runtime/avahi-daemon.pid"
    kill -TERM "$pid" 2>/dev/null || return 0
    local deadline=$((SECONDS + readiness_seconds))
    while process_alive "$pid"; do
        if ((SECONDS >= deadline)); then
            kill -KILL "$pid" 2>/dev/null || true
            break
        fi
        sleep 0.05
    done
    rm -f /run/avahi-daemon/pid
}

# The first process of the test's namespace: a host with its own daemons, then the command.
run_host() {
    prepare_host quillbridge-test "lo,$host_veth"
    start_daemon
    export QUILLBRIDGE_AVAHI_NETNS_SCRIPT=$script
    local status=0
    "$@" || status=$?
    stop_daemon || true
    exit $status
}

# The first process of the peer's namespace.
run_peer() {
    prepare_host quillbridge-peer "$peer_veth"
    start_daemon
    local status=0
    "$@" || status=$?
    stop_daemon || true
    exit $status
}

# Runs on the test's host: makes the peer's namespace and the veth pair between the two, then runs the
# command inside; both the namespace and the pair go away when the command ends or this script is stopped.
start_peer() {
    require_private_netns
    ! ip link show "$host_veth" >/dev/null 2>&1 || die "a peer host is already running"
    ip netns add "$peer_netns"
    local child=
    cleanup_peer() {
        # unshare ignores SIGTERM while it waits for its child; killing it kills the peer's first process
        # (--kill-child), and with it every process of the peer's PID namespace.
        if [[ -n $child ]]; then
            kill -KILL "$child" 2>/dev/null || true
            wait "$child" 2>/dev/null || true
        fi
        ip link del "$host_veth" 2>/dev/null || true
        ip netns del "$peer_netns" 2>/dev/null || true
    }
    trap cleanup_peer EXIT
    trap 'exit 143' TERM INT

    ip link add "$host_veth" type veth peer name "$peer_veth" netns "$peer_netns"
    ip addr add "$host_veth_address" dev "$host_veth"
    ip link set "$host_veth" multicast on up
    ip -n "$peer_netns" addr add "$peer_veth_address" dev "$peer_veth"
    ip -n "$peer_netns" link set "$peer_veth" multicast on up
    ip -n "$peer_netns" link set lo up

    ip netns exec "$peer_netns" unshare --mount --pid --fork --kill-child --mount-proc \
        bash "$script" __peer "$@" &
    child=$!
    local status=0
    wait "$child" || status=$?
    child=
    exit $status
}

case ${1:-} in
    __host)
        shift
        run_host "$@"
        ;;
    __peer)
        shift
        run_peer "$@"
        ;;
    start-daemon) start_daemon ;;
    stop-daemon) stop_daemon ;;
    peer)
        shift
        start_peer "$@"
        ;;
    "") die "usage: run-in-netns.sh COMMAND [ARGS...]" ;;
    *)
        [[ $(id -u) -eq 0 ]] || skip "network namespaces for the Avahi tests need root"
        for tool in unshare ip dbus-daemon avahi-daemon; do
            command -v "$tool" >/dev/null || missing "$tool is not installed"
        done
        unshare --net --mount --pid --fork --kill-child --mount-proc true 2>/dev/null ||
            skip "unshare of network, mount and PID namespaces is not permitted here"
        export QUILLBRIDGE_AVAHI_HOST_NETNS
        QUILLBRIDGE_AVAHI_HOST_NETNS=$(readlink /proc/self/ns/net)
        exec unshare --net --mount --pid --fork --kill-child --mount-proc bash "$script" __host "$@"
        ;;
esac
