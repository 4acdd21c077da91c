#!/bin/bash
# Launcher authors do not all use MinGW g++: the self-update library, the
# shared code it needs and the example launchers compile warning-free with
# clang as well, and link with the MinGW toolchain.
# Usage: second_compiler.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
work=$build/second-compiler
rm -rf "$work"
mkdir -p "$work"
# clang takes the MinGW C++ headers that g++ uses.
cxx=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")/include/c++
flags=(--target=x86_64-w64-mingw32 -std=c++17 -O2 -Wall -Wextra -Wshadow -Werror -DKES_SELFUPDATE_STATIC
       -isystem "$cxx" -isystem "$cxx/x86_64-w64-mingw32"
       -I"$src/selfupdate/include" -I"$src/common/include" -I"$build/generated/include")
compile() {  # compile <source> [extra flags...]
    local source=$1
    shift
    local object=$work/$(echo "${source#$src/}" | tr / _).o
    clang++ "${flags[@]}" "$@" -c "$source" -o "$object"
    echo "$object"
}
library=()
for source in "$src"/selfupdate/*.cpp "$src"/common/*.cpp; do
    library+=("$(compile "$source")")
done
console=$(compile "$src/examples/launcher/main.cpp")
gui=$(compile "$src/examples/gui_launcher/main.cpp")
link=(x86_64-w64-mingw32-g++-posix -static)
"${link[@]}" "$console" "${library[@]}" -o "$work/MyLauncher.exe"
"${link[@]}" -mwindows -municode "$gui" "${library[@]}" -o "$work/MyGuiLauncher.exe"
echo "clang $(clang++ --version | sed -n 's/.*clang version \([0-9.]*\).*/\1/p'): ${#library[@]} library sources and two example launchers compiled with -Werror, linked with MinGW"
