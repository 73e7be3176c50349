#!/usr/bin/env bash
# A manager running elsewhere on the machine must not fail the end-to-end cases. Starts one
# under an X server of its own, outside any test's namespace, and once it holds its
# single-instance marker runs one case of e2e.sh beside it: the case must pass and the
# manager outside must still be running. Usage: beside_a_manager.sh CASE. Skipped (77)
# where no IPC namespace can be made.
set -euo pipefail

case=${1:?usage: beside_a_manager.sh CASE}
unshare --ipc true 2>/dev/null || unshare --map-current-user --ipc true 2>/dev/null || {
    echo "SKIP: no IPC namespace can be made here"
    exit 77
}
# This script and its manager stay in the machine's namespace; the case makes its own.
OVRINKEY_OWN_IPC_NAMESPACE=outside
# shellcheck source=e2e_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.sh"

# Qt derives the marker's key from a file's inode, so a marker left by a manager killed
# earlier (one byte, nobody attached, its creator gone) can take the new one's key by
# chance; the manager then runs without a marker and there is nothing to test beside.
remove_dead_markers() {
    local id cpid
    ipcs -m -p | awk '$1 ~ /^[0-9]+$/ { print $1, $3 }' | while read -r id cpid; do
        kill -0 "$cpid" 2>/dev/null && continue
        ipcs -m | awk -v id="$id" '$2 == id && $5 == 1 && $6 == 0 { found = 1 } END { exit !found }' &&
            ipcrm -m "$id" 2>/dev/null || true
    done
}

start_xvfb 1024x768
remove_dead_markers
"$OVRINKEY" >>"$work/ovrinkey.log" 2>&1 &
outside=$!
pids+=("$outside")
# The marker is the shared-memory segment the manager made.
holds_marker() {
    ipcs -m -p | awk -v pid="$outside" '$3 == pid { found = 1 } END { exit !found }'
}
wait_until 15 "the manager outside to make its marker" holds_marker

env -u DISPLAY -u OVRINKEY_BENCH_PROBE -u OVRINKEY_OWN_IPC_NAMESPACE \
    bash "$(dirname "${BASH_SOURCE[0]}")/e2e.sh" "$case" ||
    fail "$case failed beside a manager running outside it"
kill -0 "$outside" 2>/dev/null || fail "the manager outside ended"
echo "PASS: $case beside a manager running outside it"
