#!/usr/bin/env bash
# Tries the packages in dist/ (made by scripts/package.sh) as a user would: installs the
# Debian package, runs kavoconv and finds its manual page, removes it again; unpacks the
# Windows zip into a fresh folder and presses the help button of its Kavo.exe under Wine.
#   scripts/package-test.sh [WIN32_BUILD]   (the build whose dialog driver is used)
# Needs root or sudo for dpkg, and a display for Wine (run it under xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
win32_build=${1:-build/win32}
version=$(sed -n 's/^project(Kavo VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb=dist/kavoconv_${version}_$(dpkg --print-architecture).deb
zip=dist/kavo-${version}-win32.zip
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

fail() { echo "package test: $*" >&2; exit 1; }
[ -f "$deb" ] && [ -f "$zip" ] || fail "no packages for $version in dist/; run scripts/package.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "lintian on $deb"
if command -v lintian >/dev/null; then
    lintian --fail-on error --display-level '>=warning' "$deb" 2>&1 | grep -v 'root privileges' || true
    lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
fi

if dpkg-query -W -f='${Status}' kavoconv 2>/dev/null | grep -q 'install ok installed'; then
    fail "kavoconv is already installed here; remove it (dpkg -r kavoconv) to run this test"
fi
echo "dpkg -i $deb"
$sudo dpkg -i "$deb" >/dev/null
trap '$sudo dpkg -r kavoconv >/dev/null 2>&1; rm -rf "$scratch"' EXIT
[ "$(command -v kavoconv)" = /usr/bin/kavoconv ] || fail "kavoconv is not /usr/bin/kavoconv"
[ "$(kavoconv --version)" = "kavoconv $version" ] || fail "kavoconv --version says '$(kavoconv --version)'"
# A, あ, 漢, a half-width katakana and CR LF, checked against glibc iconv.
printf 'A\x82\xa0\x8a\xbf\xb1\r\n' > "$scratch/in.txt"
kavoconv -l "$scratch/in.txt" "$scratch/out.txt" || fail "the installed kavoconv failed"
iconv -f SHIFT_JIS -t EUC-JP "$scratch/in.txt" | tr -d '\r' | cmp - "$scratch/out.txt" ||
    fail "the installed kavoconv converted wrongly"
[ "$(man -w kavoconv)" = /usr/share/man/man1/kavoconv.1.gz ] || fail "man -w kavoconv says '$(man -w kavoconv)'"
for doc in README.md copyright changelog.gz; do
    [ -f "/usr/share/doc/kavoconv/$doc" ] || fail "/usr/share/doc/kavoconv/$doc is missing"
done
echo "dpkg -r kavoconv"
$sudo dpkg -r kavoconv >/dev/null
trap 'rm -rf "$scratch"' EXIT
[ ! -e /usr/bin/kavoconv ] || fail "/usr/bin/kavoconv is still there after dpkg -r"

echo "unpacking $zip into a fresh folder"
unzip -q "$zip" -d "$scratch/win"
folder=$scratch/win/kavo-${version}-win32
for file in Kavo.exe Kavo.hlp kavoconv.exe LICENSE.txt readme.txt; do
    [ -f "$folder/$file" ] || fail "$file is missing from the zip"
done
iconv -f CP932 -t UTF-8 "$folder/readme.txt" >/dev/null || fail "readme.txt is not in code page 932"
[ "$(grep -c $'\r$' "$folder/readme.txt")" = "$(wc -l < "$folder/readme.txt")" ] ||
    fail "readme.txt has lines without CR LF"

echo "Kavo.exe from the zip under Wine: the help button"
. scripts/wine-env.sh
kavo_wine_setup
trap 'kavo_wine_cleanup; rm -rf "$scratch"' EXIT
wine "$root/$win32_build/tests/driver/kavo_driver.exe" "$(winepath -w "$folder/Kavo.exe")" help 2>/dev/null | tr -d '\r'
echo "OK: the .deb installed, ran and came off again; the zip's Kavo.exe opened its help"
