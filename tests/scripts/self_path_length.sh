#!/bin/bash
# getSelfPath reads the running program's path into 260 characters: a path of
# 259 characters is returned, one of 260 or more gives an empty path.
# Usage: self_path_length.sh WINE_RUN PROBE_EXE SCRATCH_DIR
set -eu
wine_run=$1 probe=$2 scratch=$3
. "$(dirname "$0")/deep_path.sh"
rm -rf "$scratch"
mkdir -p "$scratch"
failures=0
for length in 200 258 259 260 261 300; do
    dir=$(make_deep_dir "$scratch/l$length" self_path_probe.exe "$length")
    cp "$probe" "$dir/self_path_probe.exe"
    out="$scratch/out-$length.txt"
    rm -f "$out"
    set +e
    "$wine_run" "$dir/self_path_probe.exe" "$(windows_path "$out")" >"$scratch/wine-$length.log" 2>&1
    rc=$?
    set -e
    reported=$(cat "$out" 2>/dev/null || true)
    expected=$(windows_path "$dir/self_path_probe.exe")
    if [ "$length" -lt 260 ]; then
        if [ "$rc" -ne 0 ] || [ "$reported" != "$expected" ]; then
            echo "FAIL length $length: rc=$rc reported '$reported'"; failures=$((failures + 1))
        else
            echo "ok   length $length: path returned"
        fi
    else
        if [ "$rc" -ne 1 ] || [ -n "$reported" ]; then
            echo "FAIL length $length: rc=$rc reported '$reported'"; failures=$((failures + 1))
        else
            echo "ok   length $length: empty"
        fi
    fi
done
exit "$failures"
