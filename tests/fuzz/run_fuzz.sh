#!/bin/bash
# Builds the layout check's fuzz target natively, with Debian's clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, against Wine's
# Windows headers, and runs it for SECONDS (auto: 20, or 60 where the
# environment sets CI), seeded from the hostile corpus, whose files without a
# whole PE signature (NE, LE, "PE00", noise) it mutates too, and
# the fixture programs (32-bit ones among them). The inputs that reach new
# coverage are kept in <build>/fuzz/corpus from run to run. Any finding (a
# crash, a sanitizer report, an input slower than the target allows or past
# the memory limit) fails, and is kept in <build>/fuzz/findings.
#
#   run_fuzz.sh SOURCE_DIR BUILD_DIR SECONDS
set -euo pipefail
source=$1 build=$2 seconds=$3
if [ "$seconds" = auto ]; then
    seconds=$([ -n "${CI:-}" ] && echo 60 || echo 20)
fi
work=$build/fuzz
# Findings of an earlier run were reported by that run.
rm -rf "$work/findings"
mkdir -p "$work/corpus" "$work/seeds" "$work/findings"
clang=$(command -v clang++-14 || command -v clang++)
"$clang" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -fshort-wchar \
    -isystem /usr/include/wine/wine/windows -I"$source/common/include" -I"$source/common" -Wall -Wextra -Werror \
    "$source/tests/fuzz/layout_fuzzer.cpp" -o "$work/layout_fuzzer"
for seed in "$build"/bin/fx_*.exe "$build"/bin/fx32_*.exe "$build"/bin/ref_*.exe "$build"/bin/fx_family_dll.dll \
    "$build"/bin/KestrelwoodStart.exe "$build"/bin/kes_selfupdate.dll; do
    ln -f "$seed" "$work/seeds/"
done
# A timeout of one second (libFuzzer's least) stops a hang; the target itself
# reports anything slower than a few milliseconds.
set +e
"$work/layout_fuzzer" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -use_value_profile=1 -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus" "$build/bin/corpus" "$work/seeds" >"$work/fuzz.log" 2>&1
status=$?
set -e
grep -E "^#[0-9]+\s+DONE|^stat::|INFO: seed corpus" "$work/fuzz.log" || true
findings=$(find "$work/findings" -type f | wc -l)
echo "saved corpus: $(find "$work/corpus" -type f | wc -l) inputs; findings: $findings"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    tail -n 60 "$work/fuzz.log"
    echo "FAIL: the layout fuzzer found something (exit status $status); see $work/findings" >&2
    exit 1
fi
