#!/bin/bash
# Installs, from Debian's archive, what building and testing need. Skips the
# package manager entirely when everything is already there.
set -euo pipefail
packages=(
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake ninja-build googletest
    wine wine64 fonts-wine python3 python3-pefile xvfb xauth imagemagick clang
    # The self-update routine for 32-bit launchers, and launchers in other
    # languages: 32-bit MinGW and Wine, MSVC-mode C (clang-cl, lld-link,
    # llvm-dlltool), Rust for windows-gnu and Go.
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine32:i386 lld llvm
    rustc libstd-rust-dev-windows golang-go
    # The layout check's fuzzer: libFuzzer and the sanitizers' runtimes, and
    # Wine's Windows headers for a native build.
    libclang-rt-14-dev libwine-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
