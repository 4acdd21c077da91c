#!/bin/bash
# The test command: installs what is missing, builds, and runs every test
# under Wine. Exit status is ctest's.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
start=$(date +%s)
. "$root/scripts/build.sh"
built=$(date +%s)
echo "== set-up and build took $(( built - start )) s"
echo "== running tests"
set +e
# More tests than cores: many of them spend much of their time waiting for
# Wine to start processes, and the machine stays busy.
(cd "$build" && ctest -j "$(( $(nproc) + 1 ))" --output-on-failure --timeout 600)
status=$?
set -e
echo "== tests took $(( $(date +%s) - built )) s; the test command took $(( $(date +%s) - start )) s"
exit $status
