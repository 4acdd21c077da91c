#!/bin/bash
# A launcher author's ways in: add_subdirectory from another CMake project,
# find_package of an installed copy, and a plain MinGW command line against the
# installed library. Both launchers
# must build, and hand over to a newer sibling when one is there.
# Usage: launcher_integration.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
work=$build/bin/scratch/integration
rm -rf "$work"
mkdir -p "$work"
toolchain=$src/cmake/toolchain-mingw-x86_64.cmake

echo "== add_subdirectory"
cmake -S "$src/examples/launcher" -B "$work/cmake-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DKESTRELWOOD_DIR="$src" >"$work/configure.log"
cmake --build "$work/cmake-build" >"$work/build.log"

echo "== the installed package, the library from it, and a plain command line"
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
(cd "$work/prefix" && sha256sum --quiet -c SHA256SUMS)
test "$(cat "$work/prefix/VERSION")" = "$(sed -n 's/^project(KestrelwoodStart VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")"
cmake -S "$src/examples/launcher_installed" -B "$work/installed-build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/configure-installed.log"
cmake --build "$work/installed-build" >"$work/build-installed.log"
test -f "$work/installed-build/MyLauncher.exe"
x86_64-w64-mingw32-windres -I"$work/prefix/include" "$src/examples/launcher/launcher.rc" -O coff -o "$work/launcher.res"
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -static -I"$work/prefix/include" \
    "$src/examples/launcher/main.cpp" "$work/launcher.res" \
    -L"$work/prefix/lib" -lkes_selfupdate -lkes_common -lshell32 -lversion -luser32 -o "$work/Plain.exe"

echo "== the two launchers in one folder: the older hands over"
# The game folder sits on the prefix's own C: drive, a short path whatever the
# depth of the checkout.
game=${KES_WINEPREFIX:-$build/wineprefix}/drive_c/kes-scratch/integration
rm -rf "$game"
mkdir -p "$game"
cp "$work/cmake-build/MyLauncher.exe" "$game/MyLauncher.exe"
cp "$build/bin/reference_launcher_1_2.exe" "$game/Older.exe"       # 1.2.0.0
out=$("$build/wine-run.sh" "$work/prefix/bin/kes-debug-capture.exe" --children 'C:\kes-scratch\integration\Older.exe' | tr -d '\r')
echo "$out"
grep -q "delegating to newer launcher: .*MyLauncher.exe" <<<"$out"
grep -q "My launcher 1.3.0.0 is running." <<<"$out"
cp "$work/Plain.exe" "$game/Plain.exe"
rm "$game/MyLauncher.exe"
out=$("$build/wine-run.sh" "$work/prefix/bin/kes-debug-capture.exe" --children 'C:\kes-scratch\integration\Older.exe' | tr -d '\r')
echo "$out"
grep -q "delegating to newer launcher: .*Plain.exe" <<<"$out"

echo "== the installed start program picks the newest launcher"
cp "$work/prefix/bin/KestrelwoodStart.exe" "$game/KestrelwoodStart.exe"
out=$("$build/wine-run.sh" "$work/prefix/bin/kes-debug-capture.exe" --children 'C:\kes-scratch\integration\KestrelwoodStart.exe' | tr -d '\r')
echo "$out"
grep -q "My launcher 1.3.0.0 is running." <<<"$out"
echo "ok"
