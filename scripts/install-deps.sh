#!/usr/bin/env bash
# Installs what building and testing Kavo needs on Debian or Ubuntu, if it is missing:
# the native toolchain and GoogleTest, MinGW-w64 for the 32-bit Windows build, 32-bit Wine
# with Xvfb and Japanese fonts to run it, the ja_JP.UTF-8 locale, the tools that make and
# check the packages, and the fixed set of texts the encoding guess is measured on.
set -euo pipefail

packages=(
  cmake make g++ googletest libbenchmark-dev locales
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386 fonts-wine xvfb xauth x11-utils fonts-ipafont-gothic imagemagick x11-apps
  clang libclang-rt-14-dev time python3 manpages-ja
  dpkg-dev file lintian mandoc man-db unzip
  debootstrap  # the throwaway Debian root scripts/package-test.sh installs the .deb in
  nkf uchardet  # the peers scripts/guess-table.sh measures kavoconv's guess against
  # The text scripts/guess-table.sh reads (with manpages-ja and man-db)
  skkdic manpages-zh hunspell-ko psmisc xz-utils login passwd
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  # 32-bit Wine lives in the i386 architecture.
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  # A mirror caught mid-sync fails one index now and then; the install below still says
  # plainly when a package cannot be had.
  $sudo apt-get update -qq || echo "install-deps.sh: apt-get update reported errors; going on with the package lists it has" >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $sudo sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi

# Messages follow the locale's encoding; the tests also try an EUC-JP locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.eucjp$'; then
  $sudo localedef -i ja_JP -f EUC-JP ja_JP.eucJP >/dev/null 2>&1 || true
fi
