# The checks of the application's shell tests, sourced by each: `check` reports one result in the TAP style
# and counts it in $passed or $failed (the sourcing script sets both to 0); `eventually` waits for a command.

check() {
    local description=$1
    shift
    if "$@"; then
        echo "ok - $description"
        passed=$((passed + 1))
    else
        echo "not ok - $description"
        failed=$((failed + 1))
    fi
}

# Waits until a command succeeds, at most $1 seconds.
eventually() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}
