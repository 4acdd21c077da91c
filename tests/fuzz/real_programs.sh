#!/bin/bash
# Builds tests/fuzz/real_programs.cpp natively and runs it over the largest
# resource trees at hand: Wine's own programs and libraries for x64 and x86,
# and this build's launchers and corpus files made to be readable.
#
#   real_programs.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$1 build=$2
work=$build/fuzz
mkdir -p "$work"
clang=$(command -v clang++-14 || command -v clang++)
"$clang" -std=c++20 -O1 -fshort-wchar -isystem /usr/include/wine/wine/windows -I"$source/common/include" \
    -I"$source/common" -Wall -Wextra -Werror "$source/tests/fuzz/real_programs.cpp" -o "$work/real_programs"
files=()
for dir in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows; do
    [ -d "$dir" ] && files+=("$dir"/*)
done
files+=("$build"/bin/fx_family_*.exe "$build"/bin/fx32_*.exe "$build"/bin/KestrelwoodStart.exe)
files+=("$build"/bin/corpus/*_crafted_*languages*.exe)
"$work/real_programs" "${files[@]}"
