#!/bin/bash
# Launcher authors do not all use MinGW g++: the self-update library, the
# shared code it needs and the example launchers compile warning-free with
# clang as well. Only clang's front end runs (-fsyntax-only), on all cores:
# what it warns about is the question; the main build links these sources.
# Usage: second_compiler.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
# clang takes the MinGW C++ headers that g++ uses.
cxx=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")/include/c++
flags=(--target=x86_64-w64-mingw32 -std=c++17 -fsyntax-only -Wall -Wextra -Wshadow -Werror -DKES_SELFUPDATE_STATIC
       -isystem "$cxx" -isystem "$cxx/x86_64-w64-mingw32"
       -I"$src/selfupdate/include" -I"$src/common/include" -I"$build/generated/include")
sources=("$src"/selfupdate/*.cpp "$src"/common/*.cpp "$src/examples/launcher/main.cpp"
         "$src/examples/gui_launcher/main.cpp")
# The system and standard headers that every source includes, parsed once:
# no source defines anything before including them.
work=$build/second-compiler
rm -rf "$work"
mkdir -p "$work"
printf '#include <%s>\n' windows.h shellapi.h algorithm cstdint cstdio cstring cwchar memory string string_view \
    vector >"$work/system.h"
clang++ "${flags[@]/-fsyntax-only/}" -x c++-header "$work/system.h" -o "$work/system.h.pch"
printf '%s\0' "${sources[@]}" | xargs -0 -n 1 -P "$(nproc)" clang++ "${flags[@]}" -include-pch "$work/system.h.pch"
echo "clang $(clang++ --version | sed -n 's/.*clang version \([0-9.]*\).*/\1/p'): ${#sources[@]} sources (the library, the shared code and two example launchers) compiled with -Werror"
