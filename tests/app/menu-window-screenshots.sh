#!/usr/bin/env bash
# The menu window for real, under Xvfb with a tray host and a window manager
# (run-desktop-services.sh --tray --window-manager): for each of three states (setup required, ready with a
# paired device, a pairing request in the menu) the preview program puts its icon into the tray, a click on the
# icon opens the menu window, and a screenshot is taken. Pixel probes check the window's width and that it opens
# above the tray, around the icon, inside the screen.
#
#   menu-window-screenshots.sh PREVIEW_PROGRAM OUTPUT_DIR
set -euo pipefail
export PATH=/usr/bin:/bin:/usr/sbin:/sbin

preview=${1:?preview program}
output=${2:?output folder}
[[ -n ${QUILLBRIDGE_TEST_TRAYER_PID:-} ]] ||
    { echo "SKIPPED: run through tests/support/run-desktop-services.sh --tray --window-manager"; exit 77; }
mkdir -p "$output"
passed=0 failed=0
preview_pid=

cleanup() { [[ -n $preview_pid ]] && kill -KILL "$preview_pid" 2>/dev/null || true; }
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/test-checks.sh"

# trayer: 32 pixels high at the bottom right of the 1920x1080 screen.
tray_top=1048
tray_area=640x40+1280+1040
screenshot() { import -window root "$output/$1.png"; }
# Pixels of the tray item's icon (the ready grey or the attention orange), as "x y" lines.
icon_pixels() {
    convert "$output/$1.png" -crop "$tray_area" +repage txt:- |
        awk 'toupper($0) ~ /#A0AEC0|#DD6B20/ { split($1, at, /[,:]/); print at[1] + 1280, at[2] + 1040 }'
}
icon_shows() {
    screenshot "$1"
    (($(icon_pixels "$1" | wc -l) >= 20))
}
menu_window() { xdotool search --onlyvisible --name '^Quillbridge Host$' | head -n 1; }

for state in setup ready pairing; do
    "$preview" "$state" >"$output/$state.log" 2>&1 &
    preview_pid=$!
    check "$state: the icon shows in the tray" eventually 30 icon_shows "tray-$state"
    read -r icon_x icon_y < <(icon_pixels "tray-$state" |
        awk '{ x += $1; y += $2; n++ } END { if (n) printf "%d %d\n", x / n, y / n }')
    # The setup window may open by itself at first: give it its moment, then open the menu.
    sleep 1
    xdotool mousemove "${icon_x:-1900}" "${icon_y:-1064}" click 1
    check "$state: a click on the icon opens the menu window" eventually 10 menu_window
    sleep 0.5
    window=$(menu_window || true)
    if [[ -n $window ]]; then
        eval "$(xdotool getwindowgeometry --shell "$window")"
        screenshot "menu-$state"
        check "$state: the window is 340 pixels wide" test "$WIDTH" -eq 340
        check "$state: it opens right above the icon" test $((Y + HEIGHT)) -le "${icon_y:-0}" -a $((Y + HEIGHT)) -ge "$tray_top"
        check "$state: it stays inside the screen" test "$X" -ge 0 -a $((X + WIDTH)) -le 1920 -a "$Y" -ge 0
        check "$state: it spans the icon" test "$X" -le "${icon_x:-0}" -a "${icon_x:-0}" -le $((X + WIDTH))
        # The window is painted: its top left corner inside is not the empty screen's black.
        inside=$(convert "$output/menu-$state.png" -crop "1x1+$((X + 4))+$((Y + 4))" +repage txt:- | tail -n 1)
        check "$state: the window is painted" bash -c "! grep -q '#000000' <<<'$inside'"
        echo "$state: window ${WIDTH}x${HEIGHT} at $X,$Y; icon at ${icon_x:-?},${icon_y:-?}"
    fi
    xdotool key Escape
    kill -TERM "$preview_pid" 2>/dev/null || true
    wait "$preview_pid" 2>/dev/null || true
    preview_pid=
done
echo "$passed passed, $failed failed"
((failed == 0))
