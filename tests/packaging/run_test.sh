#!/usr/bin/env bash
# shellcheck disable=SC2034,SC2154 # the cases set the run's variables; its sourced steps read them
# Checks of the run command (scripts/run), one case per run: run_test.sh CASE. The cases
# source the script and call its steps with paths in a temporary folder and the build
# tree's manager, soft token and a fake vendor's driver, so nothing under /opt is touched.
set -euo pipefail
# shellcheck source=../e2e/own_ipc_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/../e2e/own_ipc_namespace.sh"

# As in the end-to-end tests: X's keyboard library reads a string within its bounds but
# without its NUL, and Qt's caches outlive the manager.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:strict_string_checks=0"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The run's steps, without running it: the script runs only when executed. A script
# without its steps would run whole here, so that is checked first.
load_run_steps() {
    grep -q '^main() {' "$SOURCE_DIR/scripts/run" || fail "scripts/run has no steps to test"
    # shellcheck source=../../scripts/run
    source "$SOURCE_DIR/scripts/run"
    set +e
    set -uo pipefail
    sudo=
    driver="$work/files/lib/libovrinskf.so.1.0.0"
    store="$work/store"
}

# The driver path before, what must lead there after, and whether the run treats it as a
# vendor's driver: a free path and another build's soft token (its file, or a link to it)
# lead to this build's soft token; a vendor's driver, file or link, stays.
driverPath_leadsToThisBuildsSoftToken_unlessAVendorsDriverIsThere() {
    load_run_steps
    local ours="$work/usr/local/lib/softskf/libovrinskf.so.1.0.0"
    mkdir -p "${ours%/*}" "$work/old" "$work/vendor"
    cp "$SOFTSKF_LIB" "$ours"
    # Another build's soft token: other bytes, the same mark. A build from before the mark
    # reads the same store variable.
    { cat "$SOFTSKF_LIB"; echo "another build"; } >"$work/old/libovrinskf.so.1.0.0"
    printf 'ELF... getenv SOFTSKF_DIR ...' >"$work/old/unmarked.so"
    cp "$VENDOR_DRIVER" "$work/vendor/libvendor.so"

    local setup expected_kind expected_target
    while read -r setup expected_kind expected_target; do
        rm -rf "$work/files"
        mkdir -p "$work/files/lib"
        case $setup in
        free) ;;
        stale-file) cp "$work/old/libovrinskf.so.1.0.0" "$driver" ;;
        stale-link) ln -s "$work/old/libovrinskf.so.1.0.0" "$driver" ;;
        unmarked-file) cp "$work/old/unmarked.so" "$driver" ;;
        vendor-file) cp "$work/vendor/libvendor.so" "$driver" ;;
        vendor-link) ln -s "$work/vendor/libvendor.so" "$driver" ;;
        esac
        local said
        said=$(place_driver "$ours"; echo "kind=$driver_kind")
        [[ $said == *"kind=$expected_kind"* ]] || fail "$setup: treated as ${said##*kind=}, not $expected_kind"
        case $expected_target in
        ours) [[ -L $driver && $(readlink "$driver") == "$ours" ]] || fail "$setup: the path does not lead to this build" ;;
        kept-file) cmp -s "$driver" "$work/vendor/libvendor.so" && [[ ! -L $driver ]] || fail "$setup: the vendor's file changed" ;;
        kept-link) [[ $(readlink "$driver") == "$work/vendor/libvendor.so" ]] || fail "$setup: the vendor's link changed" ;;
        esac
        if [[ $expected_kind == vendor ]]; then
            [[ $said == *"vendor's driver"* ]] || fail "$setup: the run does not say it uses a vendor's driver: $said"
        fi
    done <<'CASES'
free        soft   ours
stale-file  soft   ours
stale-link  soft   ours
unmarked-file soft ours
vendor-file vendor kept-file
vendor-link vendor kept-link
CASES
    # A second run finds its own link and leaves it.
    rm -f "$driver"
    place_driver "$ours" >/dev/null
    place_driver "$ours" >/dev/null
    [[ $(readlink "$driver") == "$ours" ]] || fail "a second run changed the link"
}

# The run's last step with the build tree's manager: an empty device tree is a failure
# with the reason, the demo token in the tree a success.
manager_withNoToken_failsWithTheReason_andWithTheDemoToken_succeeds() {
    load_run_steps
    mkdir -m 700 "$store"
    local code=0 output
    output=$(show_under_xvfb "$MANAGER" "$work/empty.png" 2>&1) || code=$?
    ((code != 0)) || fail "an empty tree ended with 0: $output"
    [[ $output == *"no token reached the device tree"* ]] || fail "no reason given: $output"

    driver=$BUILD_DRIVER
    make_demo_token "$SKFTOOL" >/dev/null || fail "no demo token"
    output=$(show_under_xvfb "$MANAGER" "$work/demo.png" 2>&1) || fail "the demo token did not reach the tree: $output"
    [[ -s $work/demo.png ]] || fail "no screenshot"
}

# With the packages installed, the run uses theirs and installs nothing over them.
installedPackages_areUsed_andNothingIsInstalledOverThem() {
    load_run_steps
    mkdir "$work/stub"
    printf '#!/bin/sh\necho "install ok installed"\n' >"$work/stub/dpkg-query"
    chmod +x "$work/stub/dpkg-query"
    PATH="$work/stub:$PATH"
    files=$work/files bin_dir=$work/bin softtoken_dir=$work/softskf module_dir=$work/pkcs11
    module_registration=$work/modules/skfp11.module include_dir=$work/include build=$work/no-build
    provider_dir=$work/ossl-modules

    local said
    said=$(install_manager && install_module) || fail "the run tried to install: $said"
    install_softtoken >"$work/said" || fail "the run tried to install the soft token"
    said+=$(cat "$work/said")
    local package
    for package in ovrinkey softskf skfp11; do
        [[ $said == *"the $package package is installed"* ]] || fail "the run does not say it uses $package: $said"
    done
    [[ $skftool_program == /usr/bin/skftool && $softtoken_library == /usr/lib/softskf/libovrinskf.so.1.0.0 ]] ||
        fail "the run would use $skftool_program and $softtoken_library"
    [[ -z $(find "$work" -mindepth 1 -maxdepth 1 ! -name stub ! -name said) ]] || fail "the run installed $(ls -A "$work")"
}

# A second manager would wait on a box nobody sees: the run says so and ends at once,
# before it builds anything.
run_withAManagerRunning_endsAtOnceWithTheReason() {
    cp "$(command -v sleep)" "$work/ovrinkey"
    "$work/ovrinkey" 60 &
    local other=$! code=0 output start=$SECONDS
    output=$(cd "$work" && timeout 60 bash "$SOURCE_DIR/scripts/run" 2>&1) || code=$?
    kill "$other"
    ((code == 1)) || fail "the run ended with $code: $output"
    [[ $output == *"a manager is already running"* ]] || fail "no reason given: $output"
    ((SECONDS - start < 20)) || fail "the run took $((SECONDS - start)) s to refuse"
}

case=${1:?usage: run_test.sh CASE}
declare -F "$case" >/dev/null || fail "no case $case"
"$case"
echo "PASS: $case"
