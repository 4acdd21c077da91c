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
    -L"$work/prefix/lib" -lkes_selfupdate -lkes_common -o "$work/Plain.exe"

echo "== what the routine adds to a launcher's imports: only Known DLLs, nothing a planted DLL replaces"
# Windows' Known DLLs that a launcher of this kind may import; version.dll is
# not one of them.
known="kernel32.dll msvcrt.dll user32.dll shell32.dll advapi32.dll gdi32.dll ole32.dll oleaut32.dll shlwapi.dll"
for exe in "$work/cmake-build/"{MyLauncher,MyGuiLauncher,MyGuiLauncherNarrow}.exe "$work/installed-build/MyLauncher.exe" \
           "$work/Plain.exe" "$build/bin/reference_launcher_1_2.exe"; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z')
    echo "${exe##*/}:" $dlls
    for dll in $dlls; do
        [[ " $known " == *" $dll "* ]] || { echo "FAIL: ${exe##*/} imports $dll, which is not a Known DLL"; exit 1; }
    done
done

echo "== the two launchers in one folder: the older hands over"
# The game folder sits on the prefix's own C: drive, a short path whatever the
# depth of the checkout.
game=${KES_WINEPREFIX:-$build/wineprefix}/drive_c/kes-scratch/integration
rm -rf "$game"
mkdir -p "$game"
capture() {  # capture <file in the game folder> [arguments...]
    local name=$1
    shift
    "$build/wine-run.sh" "$work/prefix/bin/kes-debug-capture.exe" --children "C:\\kes-scratch\\integration\\$name" "$@" |
        tr -d '\r'
}
# Whether Wine, under load, failed a process start with ERROR_INTERNAL_ERROR
# (1359): the start program's box in a relay trace, the routine's log line, or
# the capture tool's own failed start; or Wine's loader failing to lay out a new
# process. The one failure that earns a second run.
wine_failed_start() {
    grep -q -e 'Call user32.MessageBoxW(.*Windows error: 1359' -e 'CreateProcess failed: GLE=1359' \
        -e 'cannot start the program (Windows error 1359)' -e 'failed to map the shared user data'
}
fail() {
    echo "FAIL: $*"
    exit 1
}
cp "$work/cmake-build/MyLauncher.exe" "$game/MyLauncher.exe"
cp "$build/bin/reference_launcher_1_2.exe" "$game/Older.exe"       # 1.2.0.0
out=$(capture Older.exe)
echo "$out"
grep -q "delegating to newer launcher: .*MyLauncher.exe" <<<"$out" || fail "no hand-over to MyLauncher.exe"
grep -q "My launcher 1.3.0.0 is running." <<<"$out" || fail "MyLauncher.exe did not run"
cp "$work/Plain.exe" "$game/Plain.exe"
rm "$game/MyLauncher.exe"
out=$(capture Older.exe)
echo "$out"
grep -q "delegating to newer launcher: .*Plain.exe" <<<"$out" || fail "no hand-over to Plain.exe"

for gui in MyGuiLauncher MyGuiLauncherNarrow; do
    echo "== $gui (1.1.0.0, GUI entry): hands over to the newest, and stops at the skip flag"
    cp "$work/cmake-build/$gui.exe" "$game/$gui.exe"
    out=$(capture "$gui.exe" -x)
    echo "$out"
    grep -q "delegating to newer launcher: .*Plain.exe" <<<"$out" || fail "$gui did not hand over"
    grep -q "My launcher 1.3.0.0 is running." <<<"$out" || fail "Plain.exe did not run"
    if grep -q "My GUI launcher" <<<"$out"; then fail "$gui went on after handing over"; fi
    out=$(capture "$gui.exe" -x --no-self-update-scan)
    echo "$out"
    grep -q "skip flag present — bypassing scan" <<<"$out" || fail "$gui did not see the skip flag"
    grep -q "My GUI launcher 1.1.0.0 is running." <<<"$out" || fail "$gui did not go on as itself"
    rm "$game/$gui.exe"
done

echo "== the installed start program picks the newest launcher"
cp "$work/prefix/bin/KestrelwoodStart.exe" "$game/KestrelwoodStart.exe"
# Its message boxes traced (the prefix's relay list names MessageBoxW), so
# that a start that Wine failed with 1359, and only such a start, runs once
# more.
out=$(WINEDEBUG=+relay capture KestrelwoodStart.exe 2>&1) ||
    { wine_failed_start <<<"$out" && out=$(WINEDEBUG=+relay capture KestrelwoodStart.exe 2>&1); } || true
echo "$out" | grep -v -e '^[0-9a-f]*:Call ' -e '^[0-9a-f]*:Ret '
if grep -q "Call user32.MessageBoxW" <<<"$out"; then fail "the start program showed a message box"; fi
grep -q "My launcher 1.3.0.0 is running." <<<"$out" || fail "the start program did not start Plain.exe"
echo "ok"
