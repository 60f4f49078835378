#!/usr/bin/env bash
# Tries the packages in dist/ (made by scripts/package.sh) as a user would: installs the
# Debian package with apt-get in a throwaway Debian root, runs kavoconv and finds its
# manual page there, removes it again; unpacks the Windows zip into a fresh folder and
# presses the help button of its Kavo.exe under Wine. This machine's own package database
# is never touched, so the test also runs while apt is busy.
#   scripts/package-test.sh [WIN32_BUILD]   (the build whose dialog driver is used)
# The Debian root, build/debian-root (about 250 MB: a minimal system of this machine's
# release with man-db), is made once with debootstrap, which needs the network, and then
# reused; delete it to start afresh. KAVO_DEBIAN_MIRROR chooses the mirror. Making and
# entering the root needs root: as another user that part is skipped, and said so.
# Wine needs a display (run this under xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
win32_build=${1:-build/win32}
version=$(sed -n 's/^project(Kavo VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb=dist/kavoconv_${version}_$(dpkg --print-architecture).deb
zip=dist/kavo-${version}-win32.zip
debian_root=build/debian-root
complete=$debian_root/.kavo-root-complete  # holds the release it was made for

fail() { echo "package test: $*" >&2; exit 1; }
[ -f "$deb" ] && [ -f "$zip" ] || fail "no packages for $version in dist/; run scripts/package.sh"
scratch=$(mktemp -d)
cleanup=('rm -rf "$scratch"')
trap 'for step in "${cleanup[@]}"; do eval "$step"; done' EXIT

echo "lintian on $deb"
if command -v lintian >/dev/null; then
    lintian --pedantic --display-level '>=pedantic' "$deb" 2>&1 | grep -v 'root privileges' || true
    lintian --fail-on error,warning,info "$deb" >/dev/null 2>&1 || fail "lintian reports errors, warnings or notes"
fi

# Runs a command inside the Debian root, with a clean environment.
in_root() {
    chroot "$debian_root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive "$@"
}

# Makes the Debian root unless a complete one for this release is there.
make_debian_root() {
    local release mirror start=$SECONDS
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    case $(. /etc/os-release && echo "$ID") in
        debian) mirror=${KAVO_DEBIAN_MIRROR:-http://deb.debian.org/debian} ;;
        ubuntu) mirror=${KAVO_DEBIAN_MIRROR:-http://archive.ubuntu.com/ubuntu} ;;
        *) release="" ;;
    esac
    [ -n "$release" ] || fail "cannot tell which Debian or Ubuntu release to make a root of (/etc/os-release)"
    if [ -f "$complete" ] && [ "$(cat "$complete")" = "$release" ]; then
        echo "Debian root ($release): reusing $debian_root"
        return
    fi
    command -v debootstrap >/dev/null || fail "debootstrap is missing; run scripts/install-deps.sh"
    echo "Debian root ($release): making $debian_root with debootstrap from $mirror"
    rm -rf "$debian_root"
    if ! debootstrap --variant=minbase --include=man-db "$release" "$debian_root" "$mirror" \
        >"$scratch/debootstrap.log" 2>&1; then
        tail -n 20 "$scratch/debootstrap.log" >&2
        rm -rf "$debian_root"
        fail "debootstrap failed"
    fi
    in_root apt-get clean  # the downloaded packages are not needed again
    echo "$release" >"$complete"
    echo "Debian root: made in $((SECONDS - start)) s"
}

installed="was not installed (not root)"
if [ "$(id -u)" -ne 0 ]; then
    echo "NOTE: not root, so the .deb is not installed: making and entering a Debian root needs root"
else
    mkdir -p build
    exec 9>build/debian-root.lock  # one test at a time in the root
    flock 9
    make_debian_root
    if in_root dpkg -s kavoconv >/dev/null 2>&1; then
        in_root apt-get purge -y -q -o Dpkg::Use-Pty=0 kavoconv >/dev/null  # left by an interrupted run
    fi
    inside=$(mktemp -d "$debian_root/tmp/kavo-test.XXXXXX")
    cleanup+=('rm -rf "$inside"')
    cp "$deb" "$inside/"
    at=/tmp/$(basename "$inside")

    echo "apt-get install ./$(basename "$deb") in the Debian root"
    in_root apt-get install -y -q --no-install-recommends -o Dpkg::Use-Pty=0 "$at/$(basename "$deb")" \
        >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; fail "apt-get install failed"; }
    [ "$(in_root sh -c 'command -v kavoconv')" = /usr/bin/kavoconv ] || fail "kavoconv is not /usr/bin/kavoconv"
    [ "$(in_root kavoconv --version)" = "kavoconv $version" ] || fail "kavoconv --version says '$(in_root kavoconv --version)'"
    # A, あ, 漢, a half-width katakana and CR LF, checked against glibc iconv.
    printf 'A\x82\xa0\x8a\xbf\xb1\r\n' > "$inside/in.txt"
    in_root kavoconv -l "$at/in.txt" "$at/out.txt" || fail "the installed kavoconv failed"
    iconv -f SHIFT_JIS -t EUC-JP "$inside/in.txt" | tr -d '\r' | cmp - "$inside/out.txt" ||
        fail "the installed kavoconv converted wrongly"
    [ "$(in_root man -w kavoconv)" = /usr/share/man/man1/kavoconv.1.gz ] ||
        fail "man -w kavoconv says '$(in_root man -w kavoconv)'"
    [ "$(in_root man -L ja -w kavoconv)" = /usr/share/man/ja/man1/kavoconv.1.gz ] ||
        fail "man -L ja -w kavoconv says '$(in_root man -L ja -w kavoconv)'"
    [ -f "$debian_root/usr/share/locale/ja/LC_MESSAGES/kavoconv.mo" ] || fail "the Japanese messages are missing"
    docs=$debian_root/usr/share/doc/kavoconv
    for doc in copyright changelog.gz; do
        [ -f "$docs/$doc" ] || fail "/usr/share/doc/kavoconv/$doc is missing"
    done
    [ -f "$docs/README" ] || [ -f "$docs/README.gz" ] || fail "/usr/share/doc/kavoconv/README is missing"  # .gz above 4 kB

    echo "apt-get purge kavoconv in the Debian root"
    in_root apt-get purge -y -q -o Dpkg::Use-Pty=0 kavoconv >"$scratch/apt.log" 2>&1 ||
        { cat "$scratch/apt.log" >&2; fail "apt-get purge failed"; }
    for gone in usr/bin/kavoconv usr/share/doc/kavoconv usr/share/man/man1/kavoconv.1.gz \
        usr/share/man/ja/man1/kavoconv.1.gz usr/share/locale/ja/LC_MESSAGES/kavoconv.mo; do
        [ ! -e "$debian_root/$gone" ] || fail "/$gone is still there after apt-get purge"
    done
    installed="was installed, ran and came off again in $debian_root"
fi

echo "unpacking $zip into a fresh folder"
unzip -q "$zip" -d "$scratch/win"
folder=$scratch/win/kavo-${version}-win32
for file in Kavo.exe Kavo.hlp Kavo.html kavoconv.exe LICENSE.txt readme.txt; do
    [ -f "$folder/$file" ] || fail "$file is missing from the zip"
done
for exe in Kavo.exe kavoconv.exe; do
    ! i686-w64-mingw32-objdump -h "$folder/$exe" | grep -q ' \.debug_' || fail "$exe has debug sections"
done
iconv -f CP932 -t UTF-8 "$folder/readme.txt" >/dev/null || fail "readme.txt is not in code page 932"
[ "$(grep -c $'\r$' "$folder/readme.txt")" = "$(wc -l < "$folder/readme.txt")" ] ||
    fail "readme.txt has lines without CR LF"

echo "Kavo.exe from the zip under Wine: the help button"
. scripts/wine-env.sh
kavo_wine_setup
cleanup+=(kavo_wine_cleanup)
wine "$root/$win32_build/tests/driver/kavo_driver.exe" "$(winepath -w "$folder/Kavo.exe")" help 2>/dev/null | tr -d '\r'
echo "OK: the .deb $installed; the zip's Kavo.exe opened its help"
