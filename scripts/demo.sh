#!/bin/bash
# The main job: installs what is missing, builds everything, and runs a demo
# of KestrelwoodStart.exe and the self-update hand-over under Wine. Everything
# it makes stays in build/demo (and the build tree's Wine prefix).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/scripts/build.sh" >/dev/null
echo "== built: $build/bin/KestrelwoodStart.exe ($(stat -c %s "$build/bin/KestrelwoodStart.exe") bytes)"
KES_BUILD_DIR=$build /usr/bin/python3 "$root/scripts/demo.py"
