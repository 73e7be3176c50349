#!/usr/bin/env bash
# The skf provider through Debian's openssl command against the soft token: every signature
# the provider makes is checked by openssl without the provider, with the certificate's or
# the exported public key. One case per run: openssl_test.sh <case>.
set -euo pipefail

# shellcheck source=../check_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../check_common.sh"
need openssl
[[ -d "${PROVIDER_DIR:-}" && -f "${SOFTSKF_LIB:-}" && -x "${SKFTOOL:-}" ]] ||
    skip "PROVIDER_DIR, SOFTSKF_LIB and SKFTOOL are needed"
cd "$work"

export SOFTSKF_DIR="$work/store" SKFP11_DRIVER="$SOFTSKF_LIB" OPENSSL_MODULES="$PROVIDER_DIR"
unset SKFP11_DRIVERS_CONF OPENSSL_CONF
skftool() { "$SKFTOOL" --lib "$SOFTSKF_LIB" "$@"; }
skftool demo >/dev/null
serial=VK2026000001

# openssl with the provider (default first, so keys in files keep their usual provider). In
# a sanitizer build the runtime is loaded first.
preload=()
if [[ -n "${SANITIZER_RUNTIME:-}" ]]; then
    preload=(env "LD_PRELOAD=$SANITIZER_RUNTIME" "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")
fi
with_skf() {
    local command=$1
    shift
    timeout --kill-after=5 60 "${preload[@]}" openssl "$command" -provider default -provider skf "$@"
}

pin=12345678
rsa_key="skf:serial=$serial;app=OVRIN_APP;container=RSAContainer;usage=sign;type=private?pin-value=$pin"
sm2_key="skf:serial=$serial;app=OVRIN_APP;container=SM2Container;usage=sign;type=private?pin-value=$pin"
rsa_cert_uri="skf:serial=$serial;container=RSAContainer;type=cert"
id=1234567812345678
echo "signed by the token" >data

# Tries left of the user PIN, as the soft token's own tool reports them.
tries_left() {
    skftool show "VK-$serial" | sed -n 's/^ *User PIN: *\([0-9]*\) of .*/\1/p' | head -n 1
}

case_csrsAndCertificates() {
    with_skf req -new -key "$rsa_key" -subj "/CN=RSA request" -out rsa.csr
    openssl req -in rsa.csr -verify -noout 2>&1 | grep -q "verify OK" || fail "RSA CSR does not verify"
    with_skf req -new -key "$sm2_key" -subj "/CN=SM2 request" -sigopt "distid:$id" -out sm2.csr
    openssl req -in sm2.csr -verify -noout -vfyopt "distid:$id" 2>&1 | grep -q "verify OK" ||
        fail "SM2 CSR does not verify"
    # The CSR carries the token's key: the same public key as the token's certificate.
    with_skf pkey -in "$rsa_key" -pubout -out rsa.pub
    cmp -s rsa.pub <(openssl req -in rsa.csr -pubkey -noout) || fail "the CSR's key is not the token's"
    for kind in rsa sm2; do
        local key_var="${kind}_key"
        with_skf req -x509 -new -key "${!key_var}" -subj "/CN=$kind self" -days 2 -out "$kind-self.pem"
        openssl verify -CAfile "$kind-self.pem" "$kind-self.pem" | grep -q ": OK$" ||
            fail "$kind self-signed certificate does not verify"
    done
    # A certificate signed by the token's key for a key in a file.
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out leaf.key 2>/dev/null
    openssl req -new -key leaf.key -subj "/CN=leaf" -out leaf.csr
    with_skf x509 -req -in leaf.csr -CA rsa-self.pem -CAkey "$rsa_key" -CAcreateserial -days 2 -out leaf.pem
    openssl verify -CAfile rsa-self.pem leaf.pem | grep -q ": OK$" || fail "the issued certificate does not verify"
    echo "CSRs and certificates: ok"
}

case_dgstSignatures() {
    with_skf pkey -in "$rsa_key" -pubout -out rsa.pub
    with_skf pkey -in "$sm2_key" -pubout -out sm2.pub
    # The exported keys are the certificates' keys.
    skftool cert-export "VK-$serial" OVRIN_APP RSAContainer --sign --pem -o rsa-cert.pem >/dev/null
    cmp -s rsa.pub <(openssl x509 -in rsa-cert.pem -pubkey -noout) || fail "pkey -pubout is not the certificate's key"
    local hash
    for hash in sha1 sha256 sha384 sha512; do
        with_skf dgst "-$hash" -sign "$rsa_key" -out "rsa.$hash" data
        openssl dgst "-$hash" -verify rsa.pub -signature "rsa.$hash" data | grep -q "Verified OK" ||
            fail "RSA $hash signature does not verify"
    done
    with_skf dgst -sm3 -sign "$sm2_key" -out sm2.sig data
    openssl dgst -sm3 -verify sm2.pub -sigopt "distid:$id" -signature sm2.sig data | grep -q "Verified OK" ||
        fail "SM2 signature with the default ID does not verify"
    with_skf dgst -sm3 -sign "$sm2_key" -sigopt distid:alice@example -out sm2-alice.sig data
    openssl dgst -sm3 -verify sm2.pub -sigopt distid:alice@example -signature sm2-alice.sig data |
        grep -q "Verified OK" || fail "SM2 signature with a given ID does not verify"
    if openssl dgst -sm3 -verify sm2.pub -sigopt "distid:$id" -signature sm2-alice.sig data >/dev/null 2>&1; then
        fail "an SM2 signature verified under another ID"
    fi
    # What the token cannot do is refused with a reason that says so.
    local out
    out=$(with_skf dgst -sha256 -sign "$rsa_key" -sigopt rsa_padding_mode:pss -out pss.sig data 2>&1) &&
        fail "a PSS signature was made"
    grep -q "cannot make PSS signatures" <<<"$out" || fail "PSS refused without its reason: $out"
    out=$(with_skf pkeyutl -decrypt -inkey "$rsa_key" -in data 2>&1) && fail "decryption succeeded"
    grep -q "the token cannot decrypt" <<<"$out" || fail "decryption refused without its reason: $out"
    out=$(with_skf dgst -sha256 -sign "$sm2_key" -out x data 2>&1) && fail "SM2 with SHA-256 was signed"
    grep -q "cannot make SM2 signatures with sha256" <<<"$out" || fail "SM2 with SHA-256 refused wrongly: $out"
    echo "dgst signatures: ok"
}

case_cms() {
    with_skf storeutl -certs -out rsa-cert.pem "$rsa_cert_uri" >/dev/null
    with_skf cms -sign -binary -signer rsa-cert.pem -inkey "$rsa_key" -in data -out data.cms -outform PEM
    openssl cms -verify -binary -in data.cms -inform PEM -CAfile "$SOFTSKF_DIR/ca/rsa-ca-cert.pem" -content data \
        -purpose any -out verified 2>cms.err || fail "CMS does not verify: $(cat cms.err)"
    cmp -s data verified || fail "CMS verified other content"
    echo "CMS: ok"
}

# A one-connection server that requires a client certificate from the soft token's CA;
# sets port.
start_server() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout server.key -out server.pem -subj "/CN=localhost" -days 2 \
        2>/dev/null
    start_tls_server "$1" "$SOFTSKF_DIR/ca/rsa-ca-cert.pem" server.pem server.key
}

case_tlsClientLogin() {
    with_skf storeutl -certs -out rsa-cert.pem "$rsa_cert_uri" >/dev/null
    start_server server.log
    printf 'GET / HTTP/1.0\r\n\r\n' | with_skf s_client -connect "127.0.0.1:$port" -tls1_2 -sigalgs RSA+SHA256 \
        -cert rsa-cert.pem -key "$rsa_key" -quiet >client.out 2>client.err ||
        fail "TLS login failed: $(tail -n 5 client.err)"
    grep -q '^Peer signature type: RSA$' client.out || fail "the server saw no RSA signature: $(cat client.out)"
    grep -q '^depth=0 CN = Velkora Demo RSA Signature$' server.log || fail "the server did not verify the client"
    echo "TLS 1.2 client login: ok"
}

case_wrongPinCostsOneTry() {
    local before after out
    before=$(tries_left)
    [[ -n "$before" ]] || fail "skftool show gives no count of tries"
    out=$(with_skf dgst -sha256 -sign "${rsa_key%%\?*}?pin-value=00000000" -out x data 2>&1) &&
        fail "a wrong PIN signed"
    after=$(tries_left)
    ((after == before - 1)) || fail "a wrong PIN cost $((before - after)) tries"
    grep -q "wrong PIN.*of token $serial, $after tries left" <<<"$out" || fail "the error does not say so: $out"
    ! grep -q "not a key of a token" <<<"$out" || fail "a re-initialised signature lost its key: $out"
    # The PIN asked through the passphrase prompt (here answered by -passin).
    with_skf pkey -in "$rsa_key" -pubout -out rsa.pub
    with_skf dgst -sha256 -sign "${rsa_key%%\?*}" -passin "pass:$pin" -out prompted.sig data
    openssl dgst -sha256 -verify rsa.pub -signature prompted.sig data | grep -q "Verified OK" ||
        fail "the PIN from the prompt did not sign"
    printf '%s\n' "$pin" >pin.txt
    with_skf dgst -sha256 -sign "${rsa_key%%\?*}?pin-source=file:$work/pin.txt" -out ok.sig data
    openssl dgst -sha256 -verify rsa.pub -signature ok.sig data | grep -q "Verified OK" ||
        fail "the PIN from a file did not sign"
    (($(tries_left) == before)) || fail "a right PIN did not give the try back"
    echo "wrong PIN: one try, named: ok"
}

case_pulledToken() {
    with_skf pkey -in "$rsa_key" -pubout -out rsa.pub
    skftool remove "VK-$serial" >/dev/null
    local out status=0
    out=$(with_skf dgst -sha256 -sign "$rsa_key" -out x data 2>&1) || status=$?
    ((status == 1)) || fail "without the token openssl ended with $status: $out"
    grep -q "no object of the plugged-in tokens matches" <<<"$out" || fail "no clean error: $out"
    skftool insert "$serial" >/dev/null
    with_skf dgst -sha256 -sign "$rsa_key" -out back.sig data
    openssl dgst -sha256 -verify rsa.pub -signature back.sig data | grep -q "Verified OK" ||
        fail "the token plugged back did not sign"
    echo "pulled token: ok"
}

case_storeListingAndUriFaults() {
    local listing
    listing=$(with_skf storeutl 'skf:')
    grep -q "^Total found: 9$" <<<"$listing" || fail "skf: did not list the 9 objects: $listing"
    grep -q "Name: skf:serial=$serial;app=OVRIN_APP;container=SM2Container;usage=enc;type=cert" <<<"$listing" ||
        fail "the SM2 encryption certificate is not listed: $listing"
    # Every listed URI loads as what it says.
    with_skf storeutl -certs "skf:serial=$serial;container=SM2Container" | grep -q "^Total found: 2$" ||
        fail "the SM2 container does not give its two certificates"
    local out
    out=$(with_skf pkey -in "skf:type=private?pin-value=$pin" -pubout 2>&1) && fail "an ambiguous URI loaded a key"
    grep -q "ambiguous URI:.*:skf:type=private matches 3 keys" <<<"$out" || fail "the ambiguity is not named: $out"
    out=$(with_skf pkey -in "skf:container=None;type=private" -pubout 2>&1) && fail "an unknown URI loaded"
    grep -q "no object of the plugged-in tokens matches skf:container=None" <<<"$out" ||
        fail "the unknown URI is not named: $out"
    out=$(with_skf pkey -in "skf:usage=both" 2>&1) && fail "a malformed URI loaded"
    grep -q "usage is 'sign' or 'enc'" <<<"$out" || fail "the malformed URI is not explained: $out"
    echo "store: ok"
}

"case_$1"
