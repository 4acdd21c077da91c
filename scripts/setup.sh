#!/bin/bash
# Installs, from Debian's archive, what building and testing need. Skips the
# package manager entirely when everything is already there.
#
# A mirror can be caught mid-sync: one index fails with "File has unexpected
# size". The update is tried a few times; if an index still fails, the install
# goes on with the lists that arrived. If that install then fails (typically a
# multi-arch pair whose amd64 half comes from a suite whose i386 index is
# missing), it is tried once more with the failing suites pinned below the
# others, for that run only: the machine's apt configuration is not touched.
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
    # Publisher pinning's test launchers: signed with test keys.
    openssl osslsigncode
    # The boxes in the player's language are tested under each language's
    # locale, compiled into the build tree from these sources.
    locales
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -gt 0 ] || exit 0

echo "== installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tries=${KES_APT_TRIES:-4}
pause=${KES_APT_PAUSE:-15}

# The indexes an apt-get update run could not fetch, one URL per line.
failedIndexes() {
    sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' "$1" | sort -u
}

updated=0
for ((try = 1; try <= tries; try++)); do
    if apt-get update -q > "$work/update.log" 2>&1; then
        updated=1
        break
    fi
    failed=$(failedIndexes "$work/update.log")
    echo "== apt-get update failed (try $try of $tries)${failed:+; failing index: $failed}"
    [ "$try" -lt "$tries" ] && sleep "$pause"
done
cat "$work/update.log"
failed=""
if [ "$updated" = 0 ]; then
    failed=$(failedIndexes "$work/update.log")
    if [ -z "$failed" ]; then
        echo "== apt-get update failed $tries times, and named no index it could not fetch" >&2
        exit 1
    fi
    echo "== going on with the package lists that arrived; these did not:"
    printf '   %s\n' $failed
fi

if apt-get install -y -q --no-install-recommends "${missing[@]}" 2>&1 | tee "$work/install.log"; then
    exit 0
fi
if [ -z "$failed" ]; then
    echo "== apt-get install failed" >&2
    exit 1
fi

# The suites behind the failing indexes (".../dists/<suite>/main/binary-i386/...").
suites=$(printf '%s\n' $failed | sed -n 's|.*/dists/\([^/]*\)/.*|\1|p' | sort -u)
: > "$work/preferences"
for s in $suites; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$s" >> "$work/preferences"
done
echo "== apt-get install failed with indexes missing; once more with ${suites//$'\n'/, } pinned below the other suites"
if apt-get install -y -q --no-install-recommends \
        -o "Dir::Etc::Preferences=$work/preferences" "${missing[@]}"; then
    exit 0
fi
echo "== could not install: ${missing[*]}" >&2
echo "== the package mirror did not serve these indexes (mid-sync?); try again later:" >&2
printf '   %s\n' $failed >&2
exit 1
