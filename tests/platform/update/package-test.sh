#!/usr/bin/env bash
# Builds the Debian packages of a build folder with cpack and unpacks each into a temporary root: one package
# per program, each with its own files only, the host's with its menu entry and icons, its dependency on
# pkexec (the updater installs through it) and the microphone's package with its metadata (the menu window's
# microphone installer hands that package to the package tool). Arguments: the build folder.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  exit 1
}
prefix=$(sed -n 's/^set(CPACK_PACKAGING_INSTALL_PREFIX "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
prefix=${prefix#/}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

expect_package() {
  local name=$1
  shift
  local deb
  deb=$(ls "$work/out/${name}"_*.deb 2>/dev/null | head -1)
  [[ -n $deb ]] || fail "no package $name in $(ls "$work/out")"
  [[ $(dpkg-deb -f "$deb" Package) == "$name" ]] || fail "$deb is not named $name"
  local root=$work/root-$name
  mkdir -p "$root"
  dpkg-deb -x "$deb" "$root"
  local expected
  for expected in "$@"; do
    [[ -e $root/$prefix/$expected ]] || fail "$name lacks $expected: $(cd "$root" && find . -type f)"
  done
  # Nothing of the other programs.
  local programs
  programs=$(cd "$root/$prefix/bin" && ls)
  [[ $programs == "$name" ]] || fail "$name carries the programs: $programs"
  echo "$deb"
}

host=$(expect_package quillbridge-host bin/quillbridge-host share/applications/com.mossharbor.quillbridgehost.desktop \
  share/icons/hicolor/scalable/apps/quillbridge-host.svg share/icons/hicolor/scalable/status/quillbridge-host-ready.svg \
  "share/quillbridge/SystemMicrophone/Install Quillbridge Microphone.deb" \
  share/quillbridge/SystemMicrophone/QuillbridgeMicrophoneMetadata.plist)
expect_package quillbridge-camera-extension bin/quillbridge-camera-extension \
  lib/systemd/user/quillbridge-camera-extension.service >/dev/null
expect_package quillbridge-microphone bin/quillbridge-microphone lib/systemd/user/quillbridge-microphone.service \
  >/dev/null

[[ $(dpkg-deb -f "$host" Depends) == *pkexec* ]] || fail "the host package does not depend on pkexec"
[[ -x $work/root-quillbridge-host/$prefix/bin/quillbridge-host ]] || fail "the host is not executable"
grep -q "^Exec=/$prefix/bin/quillbridge-host" "$work/root-quillbridge-host/$prefix/share/applications/"*.desktop ||
  fail "the menu entry does not start the packaged program"
# The carried package is the microphone's, of the same version as the one cpack made beside the host's.
carried=$work/root-quillbridge-host/$prefix/share/quillbridge/SystemMicrophone/Install\ Quillbridge\ Microphone.deb
microphone=$(ls "$work/out"/quillbridge-microphone_*.deb | head -1)
[[ $(dpkg-deb -f "$carried" Package) == quillbridge-microphone ]] || fail "the host carries another package"
[[ $(dpkg-deb -f "$carried" Version) == "$(dpkg-deb -f "$microphone" Version)" ]] ||
  fail "the host carries the microphone at another version"
echo "packages: $(cd "$work/out" && ls ./*.deb | tr '\n' ' ')"
