#!/bin/sh
# copy_reflink.sh - a large file copied by the engine against cp on btrfs and
# XFS, file systems that share blocks between files: makes a 4 GiB image of
# each, mounts it on a loop device, runs bench_copy_large there (times with
# the source cold, MiB read from the disk, extents shared) and the tests
# that check the copy shares its extents, then unmounts and removes them.
# Needs root, loop devices and mkfs.btrfs / mkfs.xfs; says in one line what
# is missing and skips a file system that cannot be made or mounted.
#
#   bench/copy_reflink.sh [BUILD-DIR] [SIZE-MB] [ROUNDS]
#
# Work files go to $TMPDIR (default /tmp); the images are sparse, the data
# written is SIZE-MB (default 1024) per file system.
set -u

BUILD=${1:-$(dirname "$0")/../build}
BUILD=$(cd "$BUILD" && pwd)
SIZE=${2:-1024}
ROUNDS=${3:-3}
BENCH=$BUILD/bench/bench_copy_large
TESTS=$BUILD/tests/platform_tests
[ -x "$BENCH" ] || { echo "bench_copy_large not found in $BUILD/bench" >&2; exit 2; }

if [ "$(id -u)" != 0 ]; then
  echo "copy_reflink: skipped, mounting a loop image needs root"
  exit 0
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/copy_reflink.XXXXXX")
cleanup() {
  for fs in btrfs xfs; do
    mountpoint -q "$WORK/$fs" 2>/dev/null && umount "$WORK/$fs"
  done
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

echo "load: $(uptime)"
status=0
for fs in btrfs xfs; do
  if ! command -v "mkfs.$fs" >/dev/null 2>&1; then
    echo "copy_reflink: $fs skipped, mkfs.$fs not installed"
    continue
  fi
  img=$WORK/$fs.img
  truncate -s 4G "$img"
  if ! out=$("mkfs.$fs" -q -f "$img" 2>&1); then
    echo "copy_reflink: $fs skipped, mkfs.$fs failed: $(echo "$out" | head -n 1)"
    continue
  fi
  mkdir -p "$WORK/$fs"
  if ! out=$(mount -o loop "$img" "$WORK/$fs" 2>&1); then
    echo "copy_reflink: $fs skipped, mount failed: $(echo "$out" | head -n 1)"
    continue
  fi
  echo "== $fs"
  "$BENCH" --dir "$WORK/$fs" --size-mb "$SIZE" --rounds "$ROUNDS" || status=1
  if [ -x "$TESTS" ]; then
    if out=$(VANTREL_REFLINK_DIR=$WORK/$fs "$TESTS" --gtest_brief=1 --gtest_filter='Reflink.*' 2>&1); then
      echo "tests: $(echo "$out" | tail -n 1)"
    else
      echo "$out"
      status=1
    fi
  fi
  umount "$WORK/$fs"
done
echo "load: $(uptime)"
exit $status
