#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (as root).
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
    cmake make                      # build
    g++-mingw-w64-i686-posix        # the shipped 32-bit library (posix threads: std::mutex)
    g++-mingw-w64-x86-64-posix      # the same sources for 64-bit Wine (tests, demo)
    mingw-w64-tools                 # windres and friends
    wine wine64                     # the Windows the tests run on
    msitools wixl gcab              # packages from .wxs, msibuild, cabinets
    googletest                      # sources, built with the mingw toolchains
    libboost-dev nlohmann-json3-dev # header-only libraries
    osslsigncode openssl            # test certificates and Authenticode signing of test files
    file                            # tells the demo which build of the library it wraps
)
# wine32 runs 32-bit Windows programs; it needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
packages+=(wine32:i386)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
