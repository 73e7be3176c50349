#!/usr/bin/env bash
# The module as the clients people use reach it: OpenSC's pkcs11-tool by module path and
# GnuTLS's p11tool through p11-kit registration alone, against a fresh demo soft token.
# Signatures are checked with openssl against the certificates the token exports.
# Needs MODULE, DRIVER and SKFTOOL (MODULE_FILE for p11tool); exits 77 (skipped) when a client is not installed.
set -euo pipefail

: "${MODULE:?}" "${DRIVER:?}" "${SKFTOOL:?}"
case_name=${1:?which case}
work=$(mktemp -d "${TMPDIR:-/tmp}/skfp11-clients.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
# SKFP11_CLIENTS_STORE: a store the caller looks at afterwards (the window's test).
export SOFTSKF_DIR="${SKFP11_CLIENTS_STORE:-$work/store}" SKFTOOL_LIB="$DRIVER" SKFP11_DRIVER="$DRIVER"
mkdir -p -m 700 "$SOFTSKF_DIR"

# The demo token's values, and the SM3-with-SM2 mechanism of skfp11.h.
PIN=12345678
SM3_SM2=0xD34B4602

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

need() {
    command -v "$1" >/dev/null || {
        echo "skipped: $1 is not installed"
        exit 77
    }
}

# A module built with AddressSanitizer loads into an uninstrumented client only when the
# sanitizer's runtime comes first; the clients' own leaks are not ours to report.
preload=()
if [[ -n "${SANITIZER_RUNTIME:-}" ]]; then
    preload=(LD_PRELOAD="$SANITIZER_RUNTIME" ASAN_OPTIONS=detect_leaks=0:abort_on_error=1)
fi

p11() {
    env "${preload[@]}" pkcs11-tool --module "$MODULE" "$@"
}

demo() {
    "$SKFTOOL" demo >/dev/null
}

# The CKA_ID (hex) of the certificate with this label.
certificate_id() {
    p11 --list-objects --type cert 2>/dev/null | awk -v label="$1" '
        /label:/ { sub(/.*label: +/, ""); current = $0 }
        /ID:/ && current == label { print $2; exit }'
}

# Signs data with the key of the certificate labelled $2 using mechanism $1 and checks the
# signature with openssl against that certificate; $3 is openssl's digest.
sign_and_verify() {
    local mechanism=$1 label=$2 digest=$3 id
    id=$(certificate_id "$label")
    [[ -n "$id" ]] || fail "no certificate labelled $label"
    printf 'a message for the token' >"$work/data"
    p11 --login --pin "$PIN" --sign --mechanism "$mechanism" --id "$id" -i "$work/data" -o "$work/sig" 2>/dev/null ||
        fail "pkcs11-tool could not sign with $mechanism"
    p11 --read-object --type cert --id "$id" -o "$work/cert.der" 2>/dev/null
    openssl x509 -inform DER -in "$work/cert.der" -pubkey -noout >"$work/pub.pem"
    if [[ $digest == sm3 ]]; then
        # r||s into the DER signature openssl reads.
        python3 - "$work/sig" "$work/sig.der" <<'PY'
import sys
raw = open(sys.argv[1], 'rb').read()
def integer(b):
    b = b.lstrip(b'\0') or b'\0'
    if b[0] & 0x80:
        b = b'\0' + b
    return bytes([2, len(b)]) + b
body = integer(raw[:32]) + integer(raw[32:])
open(sys.argv[2], 'wb').write(bytes([0x30, len(body)]) + body)
PY
        openssl dgst -sm3 -verify "$work/pub.pem" -sigopt distid:1234567812345678 -signature "$work/sig.der" \
            "$work/data" >/dev/null || fail "openssl rejects the SM3-with-SM2 signature"
    else
        openssl dgst "-$digest" -verify "$work/pub.pem" -signature "$work/sig" "$work/data" >/dev/null ||
            fail "openssl rejects the $mechanism signature"
    fi
}

pkcs11tool_listsSlotsAndObjects_privateKeysOnlyAfterLogin() {
    need pkcs11-tool
    demo
    p11 --list-slots >"$work/slots" 2>&1
    grep -q "VK-VK2026000001 / OVRIN_APP" "$work/slots" || fail "--list-slots does not show the demo token"
    p11 --list-token-slots >"$work/tokens" 2>&1
    grep -q "serial num *: VK2026000001" "$work/tokens" || fail "--list-token-slots misses the token"
    p11 --list-objects >"$work/objects" 2>/dev/null
    [[ $(grep -c "^Certificate Object" "$work/objects") == 3 ]] || fail "not three certificates"
    [[ $(grep -c "^Public Key Object" "$work/objects") == 3 ]] || fail "not three public keys"
    ! grep -q "^Private Key Object" "$work/objects" || fail "private keys before login"
    p11 --login --pin "$PIN" --list-objects --type privkey 2>/dev/null >"$work/private"
    [[ $(grep -c "^Private Key Object" "$work/private") == 3 ]] || fail "not three private keys after login"
}

pkcs11tool_signaturesVerifyWithOpenssl() {
    need pkcs11-tool
    demo
    sign_and_verify SHA256-RSA-PKCS "Velkora Demo RSA Signature" sha256
    sign_and_verify "$SM3_SM2" "Velkora Demo SM2 Signature" sm3
}

pkcs11tool_testWithLogin_reportsNoErrors() {
    need pkcs11-tool
    demo
    p11 --test --login --pin "$PIN" >"$work/test.log" 2>&1 || fail "--test failed: $(tail -n 5 "$work/test.log")"
    grep -q "^No errors" "$work/test.log" || fail "--test reports errors: $(tail -n 5 "$work/test.log")"
}

pkcs11tool_changePin_wrongPin_andLockedPin() {
    need pkcs11-tool
    "$SKFTOOL" create --serial LOCK0001 --label LockToken >/dev/null
    "$SKFTOOL" insert LOCK0001 >/dev/null
    "$SKFTOOL" app-create VK-LOCK0001 APP --default-pins --user-retries 3 >/dev/null
    local token=(--token-label LockToken)
    p11 "${token[@]}" --change-pin --pin "$PIN" --new-pin 87654321 >/dev/null 2>&1 || fail "--change-pin failed"
    p11 "${token[@]}" --login --pin 87654321 --list-objects >/dev/null 2>&1 || fail "the new PIN does not log in"
    p11 "${token[@]}" --login --pin "$PIN" --list-objects >"$work/old.log" 2>&1 || true
    grep -q CKR_PIN_INCORRECT "$work/old.log" || fail "the old PIN is not CKR_PIN_INCORRECT: $(cat "$work/old.log")"
    p11 "${token[@]}" --login --pin 00000000 --list-objects >/dev/null 2>&1 || true
    p11 "${token[@]}" --login --pin 00000000 --list-objects >/dev/null 2>&1 || true
    p11 "${token[@]}" --login --pin 87654321 --list-objects >"$work/locked.log" 2>&1 || true
    grep -q CKR_PIN_LOCKED "$work/locked.log" ||
        fail "the right PIN after three wrong ones is not CKR_PIN_LOCKED: $(cat "$work/locked.log")"
    p11 --list-token-slots >"$work/slots.log" 2>&1
    grep -q "user PIN locked" "$work/slots.log" || fail "the token does not say the PIN is locked"
}

pkcs11tool_keypairgenThenWriteObject_showsInSkftool() {
    need pkcs11-tool
    demo
    p11 --login --pin "$PIN" --keypairgen --key-type rsa:2048 --label MadeByP11 >"$work/gen.log" 2>&1 ||
        fail "--keypairgen failed: $(tail -n 3 "$work/gen.log")"
    local id
    id=$(awk '/ID:/ { print $2; exit }' "$work/gen.log")
    p11 --read-object --type pubkey --id "$id" -o "$work/pub.der" 2>/dev/null
    openssl pkey -pubin -inform DER -in "$work/pub.der" -out "$work/pub.pem"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.crt" -subj /CN=TestCA -days 2 \
        2>/dev/null
    openssl req -new -key "$work/ca.key" -subj /CN=MadeByP11 -out "$work/req.csr"
    openssl x509 -req -in "$work/req.csr" -CA "$work/ca.crt" -CAkey "$work/ca.key" -force_pubkey "$work/pub.pem" \
        -days 2 -outform DER -out "$work/cert.der" 2>/dev/null
    p11 --login --pin "$PIN" --write-object "$work/cert.der" --type cert --id "$id" >/dev/null 2>&1 ||
        fail "--write-object of the certificate failed"
    "$SKFTOOL" show VK-VK2026000001 >"$work/show"
    grep -A3 "Container MadeByP11 (RSA)" "$work/show" | grep -q "Certificate: CN=MadeByP11" ||
        fail "skftool show lacks the container or its certificate: $(cat "$work/show")"
    sign_and_verify SHA256-RSA-PKCS MadeByP11 sha256
}

pkcs11tool_deleteKeyOfATwoPairContainer_isRefused_andNothingIsLost() {
    need pkcs11-tool
    demo
    local id before
    id=$(certificate_id "Velkora Demo SM2 Signature")
    before=$("$SKFTOOL" show VK-VK2026000001)
    p11 --login --pin "$PIN" --delete-object --type privkey --id "$id" >"$work/delete.log" 2>&1 &&
        fail "deleting one key of the SM2 container was allowed"
    # Older pkcs11-tool names the code by number only.
    grep -qE "CKR_ACTION_PROHIBITED|0x1b\)" "$work/delete.log" ||
        fail "not CKR_ACTION_PROHIBITED: $(cat "$work/delete.log")"
    [[ $("$SKFTOOL" show VK-VK2026000001) == "$before" ]] || fail "the token changed"
}

pkcs11tool_keypairgenWithId_isFoundByThatIdInANewProcess() {
    need pkcs11-tool
    demo
    p11 --login --pin "$PIN" --keypairgen --key-type rsa:2048 --id 0102 --label ChosenName >"$work/gen.log" 2>&1 ||
        fail "--keypairgen failed: $(tail -n 3 "$work/gen.log")"
    # Each pkcs11-tool run is a new process: the ID comes from the token, not from memory.
    p11 --read-object --type pubkey --id 0102 -o "$work/pub.der" >/dev/null 2>&1 || fail "no public key with ID 0102"
    p11 --list-objects --type pubkey >"$work/found" 2>&1
    grep -A4 "label: *ChosenName" "$work/found" | grep -q "ID: *0102" || fail "the label and ID: $(cat "$work/found")"
    printf 'data' >"$work/data"
    p11 --login --pin "$PIN" --sign --mechanism SHA256-RSA-PKCS --id 0102 -i "$work/data" -o "$work/sig" >/dev/null \
        2>&1 || fail "no private key with ID 0102 signs"
}

# The slot ID pkcs11-tool shows for the slot whose description has $1.
slot_id_of() {
    p11 --list-slots 2>/dev/null | awk -v name="$1" '/^Slot/ && index($0, name) { sub(/.*\(/, ""); sub(/\).*/, ""); print }'
}

pkcs11tool_secondTokenPluggedIn_leavesTheFirstTokensSlotIdUnchanged() {
    need pkcs11-tool
    demo
    local alone
    alone=$(slot_id_of "VK-VK2026000001 / OVRIN_APP")
    [[ -n "$alone" ]] || fail "no slot for the demo token"
    # A token that sorts before the demo token, plugged in after it.
    "$SKFTOOL" create --serial AAAA0001 >/dev/null
    "$SKFTOOL" insert AAAA0001 >/dev/null
    "$SKFTOOL" app-create VK-AAAA0001 APP --default-pins >/dev/null
    [[ -n $(slot_id_of "VK-AAAA0001 / APP") ]] || fail "the second token has no slot"
    [[ $(slot_id_of "VK-VK2026000001 / OVRIN_APP") == "$alone" ]] || fail "the demo token's slot ID moved"
}

pkcs11tool_severalDrivers_eachServesItsTokens_andABrokenOneIsReported() {
    need pkcs11-tool
    demo
    # A copy under another name is a library of its own to the loader: its tokens show again.
    cp "$DRIVER" "$work/libsecondvendor.so"
    SKFP11_DRIVER="$DRIVER:$work/missing.so:$work/libsecondvendor.so:$DRIVER" SKFP11_DEBUG=1 \
        p11 --list-slots >"$work/slots" 2>"$work/errors" || fail "the module did not start: $(cat "$work/errors")"
    [[ $(grep -c "VK-VK2026000001 / OVRIN_APP" "$work/slots") == 2 ]] ||
        fail "not one slot per driver for the demo token: $(cat "$work/slots")"
    [[ $(grep -c "^Slot" "$work/slots") == 2 ]] || fail "a driver listed twice was loaded twice"
    grep -q "missing.so" "$work/errors" || fail "the broken driver is not named: $(cat "$work/errors")"
    SKFP11_DRIVER="$work/missing.so" SKFP11_DEBUG=1 p11 --list-slots >/dev/null 2>"$work/alone" &&
        fail "a module without any driver started"
    grep -q "missing.so" "$work/alone" || fail "the failed start does not name the driver: $(cat "$work/alone")"
    # Two drivers with one file name serve the same serial: their slot IDs differ, the same way each time.
    mkdir "$work/other" && cp "$DRIVER" "$work/other/"
    local both=("$DRIVER:$work/other/$(basename "$DRIVER")") first
    first=$(SKFP11_DRIVER="${both[0]}" slot_id_of "VK-VK2026000001 / OVRIN_APP" | sort)
    [[ $(wc -l <<<"$first") == 2 && $(uniq <<<"$first" | wc -l) == 2 ]] || fail "not two slot IDs: $first"
    [[ $(SKFP11_DRIVER="${both[0]}" slot_id_of "VK-VK2026000001 / OVRIN_APP" | sort) == "$first" ]] ||
        fail "the slot IDs of a collision changed between runs"
    # Without the variable, the list file (one path a line, '#' comments) and the fixed path.
    printf '# vendors\n%s  # the second vendor\n\n#/nonexistent.so\n' "$work/libsecondvendor.so" >"$work/drivers.conf"
    (unset SKFP11_DRIVER && SKFP11_DRIVERS_CONF="$work/drivers.conf" SKFP11_DEBUG=1 p11 --list-slots) \
        >"$work/conf-slots" 2>"$work/conf-errors" ||
        fail "the module did not start from the list file: $(cat "$work/conf-errors")"
    grep -q "VK-VK2026000001 / OVRIN_APP" "$work/conf-slots" || fail "the listed driver serves no slot"
    ! grep -q nonexistent "$work/conf-errors" || fail "a comment was read as a path: $(cat "$work/conf-errors")"
}

# Debian 12's ssh-agent gives up on a token that holds SM2 keys; SKFP11_RSA_ONLY shows it the RSA keys alone.
ssh_rsaOnly_addsTheTokensRsaKeyToTheAgent() {
    need ssh-agent
    need ssh-add
    need pkcs11-tool
    demo
    SKFP11_RSA_ONLY=1 p11 --list-objects --type pubkey >"$work/keys" 2>/dev/null
    [[ $(grep -c "^Public Key Object" "$work/keys") == 1 ]] && grep -q "RSA" "$work/keys" ||
        fail "not the RSA key alone: $(cat "$work/keys")"
    if [[ -n "${SANITIZER_RUNTIME:-}" ]]; then
        # ssh-agent is setgid, so the loader drops the preloaded sanitizer runtime before its
        # helper loads the module; the plain build runs the agent part.
        return 0
    fi
    printf '#!/bin/sh\necho %s\n' "$PIN" >"$work/askpass"
    chmod 755 "$work/askpass"
    # The agent's helper loads the module, so the variable goes to the agent.
    eval "$(SKFP11_RSA_ONLY=1 ssh-agent -s -P "$MODULE" -a "$work/agent.sock")" >/dev/null
    trap 'kill "$SSH_AGENT_PID" 2>/dev/null; rm -rf "$work"' EXIT
    env SSH_ASKPASS="$work/askpass" SSH_ASKPASS_REQUIRE=force DISPLAY=:0 \
        timeout 60 ssh-add -s "$MODULE" </dev/null >"$work/add.log" 2>&1 || fail "ssh-add -s failed: $(cat "$work/add.log")"
    ssh-add -l >"$work/list" 2>&1 || fail "the agent lists no key: $(cat "$work/list")"
    grep -q "(RSA)" "$work/list" || fail "no RSA key in the agent: $(cat "$work/list")"
}

# p11-kit reads a user's module files only for a user other than root, so as root the
# commands run as nobody with a home of their own.
as_client() {
    local home="$work/home"
    if [[ $(id -u) == 0 ]]; then
        command -v setpriv >/dev/null || {
            echo "skipped: running as root without setpriv"
            exit 77
        }
        timeout 120 setpriv --reuid=nobody --regid=nogroup --clear-groups env "${preload[@]}" \
            HOME="$home" XDG_CONFIG_HOME="$home/.config" SOFTSKF_DIR="$SOFTSKF_DIR" SKFP11_DRIVER="$DRIVER" "$@"
    else
        timeout 120 env "${preload[@]}" HOME="$home" XDG_CONFIG_HOME="$home/.config" "$@"
    fi
}

p11tool_findsTheTokenThroughRegistration_andTestSignsWithTheRsaKey() {
    need p11tool
    need p11-kit
    if [[ -n "${SANITIZER_RUNTIME:-}" ]]; then
        # p11-kit loading every registered module with the sanitizer runtime preloaded does not
        # come back; the plain build runs this case.
        echo "skipped: p11-kit under a preloaded sanitizer runtime"
        exit 77
    fi
    demo
    mkdir -p "$work/home/.config/pkcs11/modules"
    sed "s#^module:.*#module: $MODULE#" "$MODULE_FILE" >"$work/home/.config/pkcs11/modules/skfp11.module"
    if [[ $(id -u) == 0 ]]; then
        chown -R nobody "$work"
    fi
    as_client p11-kit list-modules >"$work/modules" 2>/dev/null || true
    grep -q "^skfp11:" "$work/modules" || fail "p11-kit list-modules does not show the module"
    as_client p11tool --list-tokens >"$work/tokens" 2>/dev/null || true
    grep -q "serial=VK2026000001" "$work/tokens" || fail "p11tool does not list the token"
    local token="pkcs11:serial=VK2026000001"
    as_client p11tool --list-all-certs "$token" 2>/dev/null >"$work/certs"
    [[ $(grep -c "type=cert" "$work/certs") == 3 ]] || fail "p11tool does not list three certificates"
    as_client env GNUTLS_PIN="$PIN" p11tool --login --test-sign "$token;object=RSAContainer;type=private" \
        >"$work/testsign" 2>&1 || fail "p11tool --test-sign failed: $(cat "$work/testsign")"
    grep -q "Verifying against public key in the token... ok" "$work/testsign" || fail "$(cat "$work/testsign")"
}

"$case_name"
