#!/bin/bash
# Configures and builds everything into ${KES_BUILD_DIR:-build}, and warms up the
# build tree's own Wine prefix with one persistent wineserver. Sourced by the
# test and demo commands.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KES_BUILD_DIR:-$root/build}

# Wine runs the built programs from the build tree as Z:<build>\bin\..., and its
# CreateProcessW refuses a program path of 260 characters or more. The longest
# names there (the corpus files) take about 64 characters after the build path.
if [ $(( ${#build} + 64 )) -ge 260 ]; then
    echo "error: the build tree $build is ${#build} characters deep; Windows programs in it would pass" >&2
    echo "the 260-character path limit under Wine. Use a checkout (or KES_BUILD_DIR) of at most 195 characters." >&2
    exit 2
fi
"$root/scripts/setup.sh"
"$root/scripts/setup_locales.sh"

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" -DKES_WERROR=ON >/dev/null

# The prefix is made (by the build tree's Wine wrapper, the one place that
# makes it) while the build compiles; the test programs that the build runs
# under Wine to list their tests wait for it. Then one persistent server for
# the whole run (it may already be running).
if [ ! -f "$WINEPREFIX/.kes-ready" ]; then
    echo "== creating Wine prefix $WINEPREFIX, while the build runs"
fi
("$build/wine-run.sh" --prepare-prefix && (wineserver -p 2>/dev/null || true)) &
prefix=$!
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "== building in $build"
status=0
cmake --build "$build" -j "$(nproc)" || status=$?
wait "$prefix" || { echo "error: the Wine prefix $WINEPREFIX could not be made" >&2; exit 1; }
[ "$status" -eq 0 ] || exit "$status"
