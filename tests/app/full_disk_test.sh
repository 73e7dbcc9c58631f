#!/usr/bin/env bash
# The full-disk test: a 1 MiB tmpfs mounted for the run and mapped as drive
# Q: in the test's Wine prefix; the full-disk rows of test_loader_run's
# DownloadRun test then fill it (DownloadRunTest.cpp). The drive and the mount are removed whatever happens.
# Needs root for the mount (as CI runs).
#
#   full_disk_test.sh TEST_EXE
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
test_exe=$(realpath "${1:?usage: full_disk_test.sh TEST_EXE}")
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(dirname "$test_exe")
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX=$dir/wineprefix
fi
# A first use makes the prefix (and its drive folder).
[ -d "$WINEPREFIX/dosdevices" ] || bash "$wine_run" "$test_exe" --gtest_filter=-* >/dev/null 2>&1

disk=$(mktemp -d "${TMPDIR:-/tmp}/qm-full-disk.XXXXXX") || exit 1
link=$WINEPREFIX/dosdevices/q:
mounted=
cleanup() {
  [ -L "$link" ] && [ "$(readlink "$link")" = "$disk" ] && rm -f "$link"
  [ -n "$mounted" ] && umount "$disk"
  rmdir "$disk"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

if [ -e "$link" ] || [ -L "$link" ]; then
  echo "full_disk_test: drive q: is already mapped in $WINEPREFIX" >&2
  exit 1
fi
mount -t tmpfs -o size=1m tmpfs "$disk" || { echo "full_disk_test: cannot mount a tmpfs (not root?)" >&2; exit 1; }
mounted=1
ln -s "$disk" "$link" || exit 1
QM_FULL_DISK=Q: bash "$wine_run" "$test_exe" --gtest_filter='DownloadRun.*'
