#!/usr/bin/env bash
# Builds both trees:
#   build/win32  the shipped clientca.dll (PE32, i386) and its static checks;
#   build/win64  the same sources for x86_64 with the tests and the demo package.
# 32-bit Wine tests are added to build/win32 when this machine can run 32-bit Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

wine32_runs() {
    # A kernel without 32-bit emulation cannot start Wine's i386 loader.
    [ -x /usr/lib/wine/wine ] || return 1
    local probe
    probe=$(mktemp -d)
    trap 'rm -rf "$probe"' RETURN
    WINEPREFIX="$probe/prefix" WINEDEBUG=-all timeout 120 /usr/lib/wine/wine cmd /c exit 0 >/dev/null 2>&1
}

if wine32_runs; then wine32=ON; else wine32=OFF; fi
echo "32-bit Wine tests: $wine32"

cmake --no-warn-unused-cli -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
    -DCLIENTCA_WINE_TESTS=$wine32 >/dev/null
cmake --build build/win32 -j"$(nproc)"
cmake --no-warn-unused-cli -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
    -DCLIENTCA_WINE_TESTS=ON >/dev/null
cmake --build build/win64 -j"$(nproc)"
