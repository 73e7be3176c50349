#!/usr/bin/env bash
# The soft token's store under the faults a machine has around it: a token file that is
# read-only for a while, and a full device. Each is said plainly, no token is called broken
# for it, and everything works again once it is mended. The read-only part runs as a user
# other than root (root writes any file); the full device needs a tmpfs of its own, so both
# need root or an unprivileged user, and each part says when it is skipped. Needs SKFTOOL
# and SOFTSKF_LIB.
set -euo pipefail

status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}
expect_in() { # expect_in TEXT WHAT...: the output holds TEXT
    local text=$1
    shift
    [[ "$output" == *"$text"* ]] || fail "$* said: $output"
}

work=$(mktemp -d)
trap 'umount "$work/full" 2>/dev/null || true; rm -rf "$work"' EXIT
chmod 755 "$work"

# Read-only: run as "nobody" when root; as this user otherwise.
read_only() {
    export SOFTSKF_DIR=$1/store
    tool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@" 2>&1; }
    tool create --serial RO >/dev/null && tool insert RO >/dev/null
    tool app-create VK-RO APP --user-pin 87654321 --so-pin 12345678 >/dev/null
    local db=$SOFTSKF_DIR/tokens/RO.db
    chmod 400 "$db"
    output=$(tool show VK-RO) && fail "show of a read-only token succeeded"
    expect_in "the token's file is read-only ($db)" "show"
    output=$(tool tokens)
    expect_in "UNUSABLE NOW: the token's file is read-only" "tokens"
    [[ "$output" != *BROKEN* ]] || fail "tokens called a read-only token broken: $output"
    for companion in "$db-wal" "$db-shm"; do
        [[ ! -e "$companion" ]] || fail "$companion left behind: $(stat -c %a "$companion")"
    done
    chmod 600 "$db"
    output=$(tool label VK-RO Mended) || fail "label after the mode was back: $output"
    output=$(tool pin-verify VK-RO APP --pin 87654321) || fail "verify after the mode was back: $output"
    # Companions an older version left at the read-only mode are given their write right back.
    tool remove VK-RO >/dev/null
    touch "$db-wal" "$db-shm" && chmod 400 "$db-wal" "$db-shm"
    tool insert RO >/dev/null
    output=$(tool label VK-RO Again) || fail "label beside read-only companions: $output"
    return $status
}

if [[ $(id -u) == 0 ]]; then
    mkdir "$work/ro" && chown nobody "$work/ro"
    export -f read_only fail expect_in
    setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env SKFTOOL="$SKFTOOL" SOFTSKF_LIB="$SOFTSKF_LIB" SOFTSKF_TEST_SCRYPT_N="${SOFTSKF_TEST_SCRYPT_N:-}" \
        status=0 bash -c "read_only $work/ro" || status=1
else
    mkdir "$work/ro" && (read_only "$work/ro") || status=1
fi

# A full device: a 1 MiB tmpfs in a mount namespace of this script's own.
full_device() {
    local mnt=$1
    mount -t tmpfs -o size=1m,mode=0700 tmpfs "$mnt" || return 77
    export SOFTSKF_DIR=$mnt/store
    tool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@" 2>&1; }
    tool create --serial F1 >/dev/null && tool insert F1 >/dev/null
    tool create --serial F2 >/dev/null
    tool app-create VK-F1 APP --user-pin 87654321 --so-pin 12345678 >/dev/null
    dd if=/dev/zero of="$mnt/filler" bs=4k 2>/dev/null || true
    output=$(tool tokens)
    [[ "$output" != *BROKEN* ]] || fail "tokens on a full device called a token broken: $output"
    expect_in "no space left on the device that holds the store ($SOFTSKF_DIR/tokens)" "tokens"
    output=$(tool label VK-F1 Full) && fail "a label was set on a full device"
    expect_in "no space left on the device that holds the store" "label"
    rm "$mnt/filler"
    output=$(tool label VK-F1 Roomy) || fail "label once there was room: $output"
    output=$(tool pin-verify VK-F1 APP --pin 87654321) || fail "verify once there was room: $output"
    umount "$mnt"
    return $status
}
mkdir "$work/full"
export -f full_device fail expect_in
if unshare -m true 2>/dev/null; then
    rc=0
    unshare -m env status=0 bash -c "full_device $work/full" || rc=$?
    if [[ $rc == 77 ]]; then
        echo "SKIPPED: the full device needs a tmpfs, and mounting one was refused"
    elif [[ $rc != 0 ]]; then
        status=1
    fi
else
    echo "SKIPPED: the full device needs a mount namespace (root, or user namespaces)"
fi

# A plugged-in token whose file is not a database stays listed, with the reason, and is
# the only one called broken.
(
    export SOFTSKF_DIR=$work/garbage/store
    mkdir -p "$work/garbage"
    tool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@" 2>&1; }
    for serial in G1 G2; do tool create --serial $serial >/dev/null && tool insert $serial >/dev/null; done
    echo "not a database" >"$SOFTSKF_DIR/tokens/G1.db"
    output=$(tool devices)
    expect_in $'VK-G1\tpresent\tcannot be used: ' "devices"
    [[ "$output" == *$'VK-G2\tpresent\n'* || "$output" == *$'VK-G2\tpresent' ]] || fail "devices: $output"
    output=$(tool tokens)
    expect_in "BROKEN: " "tokens"
    [[ $(grep -c BROKEN <<<"$output") == 1 ]] || fail "tokens called more than G1 broken: $output"
    exit $status
) || status=1

[[ $status == 0 ]] && echo "store faults: read-only file, full device and unreadable token handled"
exit $status
