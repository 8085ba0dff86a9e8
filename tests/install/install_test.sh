#!/usr/bin/env bash
# The install layout: the three programs answer --help and --version without a
# display, `cmake --install` puts every file where the desktop looks for it, the
# desktop entries, metainfo and man pages pass their validators, and the
# installed file manager finds its data below its own prefix.
# Usage: install_test.sh BUILD_DIR. Exit status 77 (skipped) when a validator
# is not installed (scripts/deps installs them).
set -uo pipefail
build=$1
for tool in desktop-file-validate appstreamcli man; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/deps installs it)"
    exit 77
  fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Runs a program with no display at all; checks its status and that its
# standard output (or, with status 2, its standard error) starts with `want`.
answers() {
  local status=$1 want=$2; shift 2
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$tmp/out" 2>"$tmp/err"
  local got=$? stream=$tmp/out
  [[ $status == 0 ]] || stream=$tmp/err
  [[ $got == "$status" ]] || fail "$* exits with $got, not $status"
  [[ $(<"$stream") == "$want"* ]] || fail "$* says: $(head -1 "$stream") (expected: $want...)"
}

version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
[[ -n $version ]] || fail "no version in CMakeLists.txt"
answers 0 "vantrel $version" "$build/vantrel" --version
answers 0 "Usage: vantrel [OPTION]... [DIR_OR_ARCHIVE [DIR]]" "$build/vantrel" --help
answers 0 "Usage: vantrel" "$build/vantrel" -platform xcb -h
answers 2 "vantrel: unknown option '--bogus'" "$build/vantrel" --bogus
answers 0 "vnview $version" "$build/vnview" --version
answers 0 "vnview FILE" "$build/vnview" --help
answers 2 "Usage: vnview FILE" "$build/vnview"
answers 0 "vantrel-zip $version" "$build/vantrel-zip" --version
answers 0 "usage:" "$build/vantrel-zip" --help

# Installed under a prefix of its own.
prefix=$tmp/usr
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || fail "cmake --install: $(tail -1 "$tmp/install.log")"
expected=(
  bin/vantrel bin/vnview bin/vantrel-zip
  share/vantrel/Language/English.lng share/vantrel/Language/German.lng share/vantrel/Language/Russian.lng
  share/vantrel/help/contents.html share/vantrel/help/keys.html share/vantrel/org.vantrel.Vantrel.svg
  share/applications/org.vantrel.Vantrel.desktop share/applications/org.vantrel.Vantrel.Viewer.desktop
  share/metainfo/org.vantrel.Vantrel.metainfo.xml
  share/icons/hicolor/scalable/apps/org.vantrel.Vantrel.svg
  share/man/man1/vantrel.1.gz share/man/man1/vnview.1.gz share/man/man1/vantrel-zip.1.gz
  share/bash-completion/completions/vantrel-zip
)
if command -v rsvg-convert >/dev/null; then
  for size in 16 22 24 32 48 64 128 256 512; do
    png=share/icons/hicolor/${size}x${size}/apps/org.vantrel.Vantrel.png
    expected+=("$png")
    # The PNG signature, then the header's width and height (big-endian).
    read -ra bytes < <(od -An -tu1 -N24 "$prefix/$png" 2>/dev/null | tr '\n' ' ')
    ((${#bytes[@]} == 24 && bytes[1] == 80 && bytes[2] == 78 && bytes[3] == 71 &&
      bytes[18] * 256 + bytes[19] == size && bytes[22] * 256 + bytes[23] == size)) ||
      fail "$png is no $size x $size PNG"
  done
fi
for file in "${expected[@]}"; do
  [[ -f $prefix/$file ]] || fail "not installed: $file"
done
for program in vantrel vnview vantrel-zip; do
  [[ -x $prefix/bin/$program ]] || fail "bin/$program is not executable"
done
# The validators the desktop's tools apply.
for entry in "$prefix"/share/applications/*.desktop; do
  desktop-file-validate "$entry" >"$tmp/out" 2>&1 || fail "desktop-file-validate ${entry##*/}: $(<"$tmp/out")"
done
appstreamcli validate --no-net "$prefix/share/metainfo/org.vantrel.Vantrel.metainfo.xml" >"$tmp/out" 2>&1 ||
  fail "appstreamcli validate: $(<"$tmp/out")"
for page in "$prefix"/share/man/man1/*.1.gz; do
  MANWIDTH=80 man --warnings -l "$page" 2>"$tmp/err" >"$tmp/out" || fail "man -l ${page##*/} fails"
  [[ -s $tmp/err ]] && fail "man --warnings ${page##*/}: $(<"$tmp/err")"
  grep -q "Vantrel $version" "$tmp/out" || fail "${page##*/} does not name version $version"
done
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/org.vantrel.Vantrel.metainfo.xml" ||
  fail "the metainfo has no release $version"

# The bash completion of vantrel-zip: commands, options, archives, entry names.
complete() { :; }  # the script registers itself; the test calls its function
compopt() { :; }
# shellcheck source=/dev/null
source "$prefix/share/bash-completion/completions/vantrel-zip"
mkdir -p "$tmp/work/docs"
printf 'a\n' >"$tmp/work/docs/first file.txt"
printf 'b\n' >"$tmp/work/docs/second.txt"
(cd "$tmp/work" && "$prefix/bin/vantrel-zip" add -r t.zip docs >/dev/null) || fail "vantrel-zip add for the completion"
completes() {  # the words typed (the last one being completed), then the replies expected
  local typed=$1; shift
  read -ra COMP_WORDS <<<"$typed"
  [[ $typed == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  (cd "$tmp/work" && PATH=$prefix/bin:$PATH _vantrel_zip; printf '%s\n' "${COMPREPLY[@]}") >"$tmp/replies"
  local got
  got=$(sort "$tmp/replies" | paste -sd '|')
  [[ $got == "$(printf '%s\n' "$@" | sort | paste -sd '|')" ]] || fail "completing '$typed' gives: $got"
}
completes "vantrel-zip ex" extract
completes "vantrel-zip list -" -v -O
completes "vantrel-zip extract -" -d -o -n -j -O -P --threads
completes "vantrel-zip list -O KOI" KOI8-R
completes "vantrel-zip test t" t.zip
completes "vantrel-zip extract -o t.zip " docs/ "docs/first file.txt" docs/second.txt  # add -r stores docs/ too
completes "vantrel-zip extract t.zip docs/s" docs/second.txt

# The installed program names its data folder below the prefix, not the build.
help=$(env -u DISPLAY "$prefix/bin/vantrel" --help 2>&1)
[[ $help == *$'\n'"  $prefix/share/vantrel/"$'\n'* ]] || fail "installed vantrel --help names no $prefix/share/vantrel/: $help"
# Run from the build folder, the same program finds the data beside itself.
help=$(env -u DISPLAY "$build/vantrel" --help 2>&1)
[[ $help == *$'\n'"  $(cd "$build" && pwd -P)/"$'\n'* ]] || fail "build/vantrel --help does not name the build folder"

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install layout: all checks passed"
