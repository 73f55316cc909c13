#!/usr/bin/env bash
# The microphone's installer against the host as it is installed: the build installed with `cmake --install`
# into two temporary roots, the host's component alone (what the host's package holds) and everything. Both
# carry the microphone's package beside its metadata, and the carried package is the microphone's own: it
# installs the program and a property list of the same version as the metadata, where the host looks for them.
# Then the application's tests read both trees with the real installer (InstalledHostTreeTest).
#
#   installed-microphone-resources-test.sh BUILD_DIR INSTALL_PREFIX APP_TESTS
set -euo pipefail
build=${1:?build folder}
prefix=${2:?install prefix}
app_tests=${3:?the application tests program}
work=$(mktemp -d "${TMPDIR:-/tmp}/quillbridge-installed-microphone.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DESTDIR=$work/host-only cmake --install "$build" --component host >/dev/null
DESTDIR=$work/full cmake --install "$build" >/dev/null
resources=share/quillbridge/SystemMicrophone
for tree in host-only full; do
    for file in "Install Quillbridge Microphone.deb" QuillbridgeMicrophoneMetadata.plist; do
        [[ -f $work/$tree$prefix/$resources/$file ]] || fail "the $tree install lacks $resources/$file"
    done
done
[[ ! -e $work/host-only$prefix/bin/quillbridge-microphone ]] || fail "the host's component installs the program"

deb=$work/host-only$prefix/$resources/Install\ Quillbridge\ Microphone.deb
[[ $(dpkg-deb -f "$deb" Package) == quillbridge-microphone ]] || fail "the carried package is not the microphone's"
dpkg-deb -x "$deb" "$work/unpacked"
[[ -x $work/unpacked$prefix/bin/quillbridge-microphone ]] || fail "the carried package lacks the program"
info=$work/unpacked$prefix/share/quillbridge/QuillbridgeMicrophone.driver/Contents/Info.plist
[[ -f $info ]] || fail "the carried package lacks the program's property list"
cmp -s "$info" "$work/host-only$prefix/$resources/QuillbridgeMicrophoneMetadata.plist" ||
    fail "the carried package's property list differs from the metadata beside it"
programs=$(cd "$work/unpacked$prefix/bin" && ls)
[[ $programs == quillbridge-microphone ]] || fail "the carried package holds the programs: $programs"

output=$(QUILLBRIDGE_TEST_HOST_ONLY_TREE=$work/host-only$prefix QUILLBRIDGE_TEST_FULL_TREE=$work/full$prefix \
    "$app_tests" --gtest_filter='InstalledHostTreeTest.*' 2>&1) || { echo "$output"; fail "the installer's tests failed"; }
echo "$output"
grep -q '^\[  PASSED  \] 1 test' <<<"$output" && ! grep -q '^\[  SKIPPED \]' <<<"$output" ||
    fail "the installer's test on the installed trees did not run"
