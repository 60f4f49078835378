#!/usr/bin/env bash
# Makes the two packages in dist/: the Debian package of kavoconv for this machine's
# architecture, and the zip of the Windows program (Kavo.exe, Kavo.hlp, kavoconv.exe).
# Needs what scripts/install-deps.sh installs. Builds in build/package-deb and
# build/package-win32, with tests left out.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
mkdir -p dist

# Debian's own compiler and linker flags (hardening) for the package it ships.
flags=()
if command -v dpkg-buildflags >/dev/null; then
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    flags=("-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
           "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)")
fi

echo "Building the Debian package"
cmake -S . -B build/package-deb --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release -DKAVO_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DKAVO_DEBIAN_DOCS=ON "${flags[@]}" >/dev/null
cmake --build build/package-deb -j "$jobs" >/dev/null
(cd build/package-deb && cpack -G DEB -B "$PWD/../../dist" >/dev/null)

echo "Building the Windows zip"
cmake -S . -B build/package-win32 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKAVO_BUILD_TESTS=OFF >/dev/null
cmake --build build/package-win32 -j "$jobs" >/dev/null
(cd build/package-win32 && cpack -G ZIP -B "$PWD/../../dist" >/dev/null)

rm -rf dist/_CPack_Packages
ls -l dist/*.deb dist/*.zip
