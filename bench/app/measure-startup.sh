#!/usr/bin/env bash
# Start-up and idle memory of the installed host, measured for real inside the end-to-end environment with a
# tray host: from exec to the tray icon docked in the tray, to the QUIC listener bound on its UDP port, to the
# advertisement established with Avahi (the host's "Published service", which includes Avahi's own probing of
# the name, about a second) and to avahi-browse seeing it; then the resident memory of the idle host. One
# unmeasured start first creates the host's identity. Prints the figures and the load average, as the machine
# may be shared; asserts nothing.
#
#   tests/e2e/run-e2e-environment.sh --tray --keyring bench/app/measure-startup.sh build/release [RUNS]
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin

build=$(realpath "${1:?build folder}")
runs=${2:-5}
[[ -n ${QUILLBRIDGE_TEST_TRAYER_PID:-} ]] ||
    { echo "run through tests/e2e/run-e2e-environment.sh --tray --keyring" >&2; exit 2; }

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
work=$(mktemp -d "${TMPDIR:-/tmp}/quillbridge-startup.XXXXXX")
host_pid=
trap '[[ -n $host_pid ]] && kill -KILL "$host_pid" 2>/dev/null; rm -rf "$work"' EXIT

# Installed where the build says, as users install it: a staged install mounted over the prefix (this mount
# namespace is the environment's own).
DESTDIR=$work/stage cmake --install "$build" >/dev/null
mkdir -p "$prefix"
mount --bind "$work/stage$prefix" "$prefix"
program=$prefix/bin/quillbridge-host
mkdir -p "$XDG_CONFIG_HOME/quillbridge"
printf '{"hasStartedMandatoryPermissionFlow": true, "hasCompletedMandatoryPermissionFlow": true}\n' \
    >"$XDG_CONFIG_HOME/quillbridge/defaults.json"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
panel_width() { xwininfo -name panel 2>/dev/null | awk '/Width:/ { print $2 }'; }

empty_panel=$(panel_width)
listening() { ss -Hlun 'sport = :49555' | grep -q .; }
advertised() { avahi-browse -rpt _quillbridge._udp 2>/dev/null | grep -q '^='; }
# One start: prints "tray_ms bound_ms published_ms browsed_ms rss_kb".
measure() {
    local log=$work/host.log start tray= bound= published= browsed= rss
    # No record of the previous start may linger in Avahi's cache.
    local deadline=$((SECONDS + 10))
    while advertised && ((SECONDS < deadline)); do sleep 0.1; done
    avahi-browse -rp _quillbridge._udp >"$work/browse.txt" 2>/dev/null &
    local browser=$!
    sleep 0.5
    start=$(now_ms)
    "$program" >"$log" 2>&1 &
    host_pid=$!
    while [[ -z $tray || -z $bound || -z $published || -z $browsed ]]; do
        local t
        t=$(now_ms)
        ((t - start < 30000)) || break
        [[ -z $tray && $(panel_width) -gt $empty_panel ]] && tray=$((t - start))
        [[ -z $bound ]] && listening && bound=$((t - start))
        [[ -z $published ]] && grep -q "Published service" "$log" && published=$((t - start))
        [[ -z $browsed ]] && grep -q '^=' "$work/browse.txt" && browsed=$((t - start))
        sleep 0.005
    done
    sleep 5
    rss=$(awk '/VmRSS/ { print $2 }' "/proc/$host_pid/status")
    kill -TERM "$host_pid"
    wait "$host_pid" || true
    host_pid=
    kill "$browser" 2>/dev/null || true
    wait "$browser" 2>/dev/null || true
    # The tray must have let the icon go before the next start.
    deadline=$((SECONDS + 10))
    while [[ $(panel_width) -gt $empty_panel ]] && ((SECONDS < deadline)); do sleep 0.05; done
    echo "${tray:-none} ${bound:-none} ${published:-none} ${browsed:-none} $rss"
}

measure >/dev/null
echo "quillbridge-host start-up ($runs runs, after one start that created the identity), in ms from exec;" \
    "load average $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores:"
format='%-6s %10s %16s %22s %18s %14s\n'
printf "$format" run "tray icon" "listener bound" "advertisement set up" "seen by a browser" "idle RSS (MB)"
results=()
for run in $(seq "$runs"); do
    read -r tray bound published browsed rss < <(measure)
    results+=("$tray $bound $published $browsed $rss")
    printf "$format" "$run" "$tray" "$bound" "$published" "$browsed" "$(awk -v kb="$rss" 'BEGIN { printf "%.1f", kb / 1024 }')"
done
printf '%s\n' "${results[@]}" | awk -v format="$format" '
    { for (i = 1; i <= 5; i++) { v[i, NR] = $i } n = NR }
    function median(column,   i, j, t, a) {
        for (i = 1; i <= n; i++) a[i] = v[column, i]
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
        return a[int((n + 1) / 2)]
    }
    END { printf format, "median", median(1), median(2), median(3), median(4), sprintf("%.1f", median(5) / 1024) }'
