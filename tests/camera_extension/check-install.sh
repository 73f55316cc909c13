#!/usr/bin/env bash
# Installs the camera extension (the install component camera_extension of the build folder $1) into a
# temporary prefix and checks what lands there: the program, which answers --help and refuses an unknown
# option, and its systemd user unit, which starts the installed program.
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillbridge-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" --component camera_extension >/dev/null
program=$prefix/bin/quillbridge-camera-extension
unit=$prefix/lib/systemd/user/quillbridge-camera-extension.service
[[ -x $program ]] || { echo "FAILED: $program was not installed" >&2; exit 1; }
[[ -f $unit ]] || { echo "FAILED: $unit was not installed" >&2; exit 1; }
grep -qx "ExecStart=$program" "$unit" || { echo "FAILED: the unit does not start $program:" >&2; cat "$unit" >&2; exit 1; }
"$program" --help | grep -q -- "--foreground" || { echo "FAILED: --help says nothing of --foreground" >&2; exit 1; }
status=0
"$program" --no-such-option 2>/dev/null || status=$?
[[ $status == 2 ]] || { echo "FAILED: an unknown option ended with $status, not 2" >&2; exit 1; }
echo "installed: $program and $unit"
