#!/bin/bash
# The benchmark command: builds, then measures under Wine (bench/run.py) and
# writes bench/results.md.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/build.sh" >/dev/null
cmake --build "$build" --target selection_bench direct_launch handoff_bench >/dev/null
KES_BUILD_DIR=$build /usr/bin/python3 "$root/bench/run.py"
