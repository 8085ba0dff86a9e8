#!/usr/bin/env bash
# The Debian package as `cpack -G DEB` makes it from this build: its files,
# its Depends from dpkg-shlibdeps, the programs run from the package unpacked
# into a temporary root (not installed), and lintian (errors fail, warnings
# are listed). Usage: package_test.sh BUILD_DIR. Exit status 77 (skipped) when
# the Debian tools are not there.
set -uo pipefail
build=$1
for tool in cpack dpkg-deb dpkg dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/deps installs it)"
    exit 77
  fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack -G DEB -B "$tmp/out" --config "$build/CPackConfig.cmake" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; exit 1; }
version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
deb=$tmp/out/vantrel_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { echo "FAIL: no $deb: $(ls "$tmp/out")"; exit 1; }

dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./||' >"$tmp/files"
for file in usr/bin/vantrel usr/bin/vnview usr/bin/vantrel-zip \
  usr/share/vantrel/Language/English.lng usr/share/vantrel/help/contents.html \
  usr/share/applications/org.vantrel.Vantrel.desktop usr/share/applications/org.vantrel.Vantrel.Viewer.desktop \
  usr/share/metainfo/org.vantrel.Vantrel.metainfo.xml usr/share/icons/hicolor/scalable/apps/org.vantrel.Vantrel.svg \
  usr/share/man/man1/vantrel.1.gz usr/share/man/man1/vnview.1.gz usr/share/man/man1/vantrel-zip.1.gz \
  usr/share/bash-completion/completions/vantrel-zip usr/share/doc/vantrel/copyright usr/share/doc/vantrel/changelog.gz; do
  grep -qx "$file" "$tmp/files" || fail "the package lacks $file"
done
grep -v '^usr/' "$tmp/files" | grep -q . && fail "files outside usr/: $(grep -v '^usr/' "$tmp/files" | head -3)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6widgets6 libqt6dbus6 qt6-qpa-plugins; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "the package's version is not $version"
zcat_changelog=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vantrel/changelog.gz | gzip -dc | head -1)
[[ $zcat_changelog == "vantrel ($version) "* ]] || fail "the changelog starts: $zcat_changelog"

# Unpacked, not installed: the programs run from the temporary root.
dpkg -x "$deb" "$tmp/root"
bin=$tmp/root/usr/bin
[[ $(env -u DISPLAY "$bin/vantrel-zip" --version) == "vantrel-zip $version" ]] || fail "vantrel-zip --version"
[[ $(env -u DISPLAY "$bin/vantrel" --version) == "vantrel $version" ]] || fail "vantrel --version"
[[ $(env -u DISPLAY "$bin/vnview" --version) == "vnview $version" ]] || fail "vnview --version"
[[ $(env -u DISPLAY "$bin/vantrel" --help) == *$'\n'"  $tmp/root/usr/share/vantrel/"$'\n'* ]] ||
  fail "the unpacked vantrel does not find its data below its own prefix"
mkdir -p "$tmp/work/docs"
printf 'packaged\n' >"$tmp/work/docs/a.txt"
(cd "$tmp/work" && "$bin/vantrel-zip" add -r t.zip docs >/dev/null) || fail "vantrel-zip add"
listing=$("$bin/vantrel-zip" list "$tmp/work/t.zip") || fail "vantrel-zip list"
[[ $listing == *" docs/a.txt"* ]] || fail "the listing lacks docs/a.txt: $listing"
if command -v unzip >/dev/null; then
  unzip -tq "$tmp/work/t.zip" >/dev/null || fail "unzip -t rejects the archive the package's tool wrote"
fi

if command -v lintian >/dev/null; then
  lintian --pedantic "$deb" >"$tmp/lintian" 2>&1
  grep -v 'root privileges' "$tmp/lintian" | grep -E '^[EW]:' | sed 's/^/lintian: /'
  grep -q '^E:' "$tmp/lintian" && fail "lintian reports errors"
else
  echo "lintian is not installed: the package is not linted (scripts/deps installs it)"
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package $(basename "$deb"): all checks passed"
