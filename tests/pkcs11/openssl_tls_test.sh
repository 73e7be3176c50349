#!/usr/bin/env bash
# OpenSSL reaches the token's RSA key through the PKCS#11 engine: `openssl s_client`
# authenticates to `openssl s_server -Verify 1` with the token's certificate and a key named
# by a pkcs11: URI, and with the token pulled out the same client fails cleanly (an error
# status, no crash, no hang). TLS 1.2 with PKCS#1 v1.5 signatures: the token signs with
# CKM_RSA_PKCS only, so the server asks for RSA+SHA256 rather than PSS.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/clients_common.sh"

engine="$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so"
[[ -f "$engine" ]] || skip "no PKCS#11 engine at $engine (libengine-pkcs11-openssl)"

cat >"$work/openssl.cnf" <<EOF
openssl_conf = openssl_init
[openssl_init]
engines = engine_section
[engine_section]
pkcs11 = pkcs11_section
[pkcs11_section]
engine_id = pkcs11
dynamic_path = $engine
MODULE_PATH = $P11_MODULE
init = 0
EOF

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/server.key" -out "$work/server.pem" \
    -subj "/CN=localhost" -days 2 2>/dev/null
key_uri="pkcs11:id=$(object_id_uri "$client_label");type=private?pin-value=$token_pin"
client_cn=$(openssl x509 -in "$client_cert" -noout -subject -nameopt multiline | sed -n 's/^ *commonName *= *//p')

# A one-connection server that asks the client for an RSA signature; sets port.
start_server() {
    start_tls_server "$1" "$ca_cert" "$work/server.pem" "$work/server.key" \
        -client_sigalgs RSA+SHA256:RSA+SHA384:RSA+SHA512
}

# The client asks for the server's status page, which reports the client's certificate and
# signature as the server saw them.
run_client() {
    local port=$1 out=$2
    printf 'GET / HTTP/1.0\r\n\r\n' |
        OPENSSL_CONF="$work/openssl.cnf" bounded 60 openssl s_client -connect "127.0.0.1:$port" -tls1_2 \
            -engine pkcs11 -keyform engine -key "$key_uri" -cert "$client_cert" -quiet >"$out" 2>"$out.err"
}

start_server "$work/server.log"
status=0
run_client "$port" "$work/client.out" || status=$?
((status == 0)) || fail "handshake with the token's key failed ($status): $(tail -n 5 "$work/client.out.err")"
grep -q '^Peer signature type: RSA$' "$work/client.out" ||
    fail "the server saw no RSA signature from the client: $(cat "$work/client.out")"
grep -q 'Verify return code: 0 (ok)' "$work/client.out" || fail "the server did not accept the client's certificate"
grep -q "^depth=0 CN = $client_cn\$" "$work/server.log" ||
    fail "the server did not verify '$client_cn': $(cat "$work/server.log")"
echo "handshake with the token's key: ok"

if [[ "$backend" != skf ]]; then
    exit 0
fi
remove_token
start_server "$work/server2.log"
status=0
run_client "$port" "$work/client2.out" || status=$?
((status != 0)) || fail "the handshake succeeded with the token pulled out"
ended_cleanly "$status" || fail "the client did not end cleanly without the token (status $status)"
if grep -q "^depth=0 CN = $client_cn\$" "$work/server2.log"; then
    fail "the server verified the client's certificate with the token pulled out"
fi
echo "without the token the client fails with status $status: ok"
