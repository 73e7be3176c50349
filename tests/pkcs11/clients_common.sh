# What the PKCS#11 client checks share: a fresh token behind the module under test, the
# names and files a client needs to reach it, and a way to pull the token out.
#
# P11_MODULE is the module under test. For the SKF module, SKFTOOL and SOFTSKF_LIB give the
# soft token: the demo token is made in a fresh store and the module loads the soft token
# as its driver. For SoftHSMv2's module (a reference run that proves the checks themselves),
# a fresh SoftHSMv2 token gets an RSA key and a certificate from a CA made here.
# Sourced by the checks after `set -euo pipefail`; exits 77 when a tool is missing.

# shellcheck source=../check_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../check_common.sh"

[[ -n "${P11_MODULE:-}" && -f "$P11_MODULE" ]] || skip "no module at '${P11_MODULE:-}'"
need openssl pkcs11-tool timeout

export TMPDIR="$work"

# Filled in by the set-up below.
token_pin=12345678
ca_cert=""      # PEM of the CA that issued the client certificate
client_cert=""  # PEM of the token's RSA certificate
client_label="" # that certificate's CKA_LABEL
cert_labels=()  # every certificate label the token shows

# The system's clients load the module. In a sanitizer build the module
# needs the sanitizer's runtime loaded before anything else (P11_CLIENT_PRELOAD), and the
# leaks of a client that was not built here are not the module's.
client_env=()
if [[ -n "${P11_CLIENT_PRELOAD:-}" ]]; then
    client_env=(env "LD_PRELOAD=$P11_CLIENT_PRELOAD" "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0")
fi

# Runs a client with a time limit, so a hanging client fails the check instead of holding
# the suite.
bounded() {
    local seconds=$1
    shift
    local status=0
    timeout --kill-after=5 "$seconds" "${client_env[@]}" "$@" || status=$?
    if ! ended_cleanly "$status"; then
        echo "ended by a time limit or a signal (status $status): $*" >&2
    fi
    return "$status"
}

# Whether an exit status is the program's own: not the time limit (124, or 137 after the
# kill) and not a signal (128 + its number).
ended_cleanly() {
    (($1 != 124 && ($1 <= 128 || $1 > 128 + 64)))
}

setup_skf_token() {
    [[ -x "${SKFTOOL:-}" && -f "${SOFTSKF_LIB:-}" ]] || skip "SKFTOOL and SOFTSKF_LIB are needed"
    export SOFTSKF_DIR="$work/store"
    export SKFP11_DRIVER="$SOFTSKF_LIB"
    skftool demo >/dev/null
    skftool cert-export VK-VK2026000001 OVRIN_APP RSAContainer --sign --pem -o "$work/client.pem" >/dev/null
    ca_cert="$SOFTSKF_DIR/ca/rsa-ca-cert.pem"
    client_cert="$work/client.pem"
    client_label="Velkora Demo RSA Signature"
    cert_labels=("Velkora Demo SM2 Signature" "Velkora Demo SM2 Encryption" "Velkora Demo RSA Signature")
}

setup_softhsm_token() {
    need softhsm2-util
    mkdir -p "$work/hsm"
    printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/hsm" \
        >"$work/softhsm2.conf"
    export SOFTHSM2_CONF="$work/softhsm2.conf"
    softhsm2-util --init-token --free --label demo --pin "$token_pin" --so-pin "$token_pin" >/dev/null
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -subj "/CN=Reference CA" \
        -days 2 2>/dev/null
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/client.key" 2>/dev/null
    openssl req -new -key "$work/client.key" -subj "/CN=Reference Client" -out "$work/client.csr"
    openssl x509 -req -in "$work/client.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
        -out "$work/client.pem" -days 2 2>/dev/null
    softhsm2-util --import "$work/client.key" --token demo --label "Reference Client" --id 01 --pin "$token_pin" \
        >/dev/null
    bounded 60 pkcs11-tool --module "$P11_MODULE" --login --pin "$token_pin" --write-object "$work/client.pem" --type cert \
        --id 01 --label "Reference Client" >/dev/null 2>&1
    rm -f "$work/client.key"
    ca_cert="$work/ca.pem"
    client_cert="$work/client.pem"
    client_label="Reference Client"
    cert_labels=("Reference Client")
}

skftool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@"; }

# Pulls the token out the way a person does. SoftHSMv2 has no removal; emptying its store
# comes closest, but its module then crashes at exit (C_CloseAllSessions from the engine's
# clean-up runs after SoftHSMv2's own destructors), so the reference run stops before this.
remove_token() {
    skftool remove VK-VK2026000001 >/dev/null
}

# The CKA_ID, as a pkcs11: URI's percent-encoded id, of the certificate labelled $1.
object_id_uri() {
    local id
    id=$(bounded 60 pkcs11-tool --module "$P11_MODULE" --list-objects --type cert 2>/dev/null |
        awk -v label="$1" '
            /^Certificate Object/ { found = 0 }
            /^ *label:/ { sub(/^ *label: */, ""); found = ($0 == label) }
            found && /^ *ID:/ { print $2; exit }')
    [[ -n "$id" ]] || fail "no certificate labelled '$1' through the module"
    echo "$id" | sed 's/\(..\)/%\1/g'
}

if [[ "$(basename "$P11_MODULE")" == libsofthsm2.so ]]; then
    backend=softhsm
    setup_softhsm_token
else
    backend=skf
    setup_skf_token
fi
