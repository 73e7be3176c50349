#!/usr/bin/env bash
# NSS, as Firefox and Chromium use it, sees the token's certificates: after `modutil -add`
# into a fresh database, `certutil -L -h all` lists every certificate of the token under
# its label, and each one exported through NSS is the exact DER the token holds. With the
# token pulled out, certutil still ends cleanly and lists none of them.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/clients_common.sh"
need modutil certutil
exec </dev/null # a PIN prompt fails instead of waiting

db="sql:$work/nssdb"
mkdir -p "$work/nssdb"
certutil -N -d "$db" --empty-password
# certutil logs in to the token to mark certificates that have a key; the PIN comes from a
# file, never a terminal prompt.
printf '%s\n' "$token_pin" >"$work/pin.txt"
# modutil asks for confirmation while a browser might hold the database; -force skips that.
bounded 60 modutil -force -dbdir "$db" -add "Token module" -libfile "$P11_MODULE" >"$work/modutil.log" 2>&1 ||
    fail "modutil -add failed: $(cat "$work/modutil.log")"
bounded 60 modutil -force -dbdir "$db" -list "Token module" >"$work/module.txt" 2>&1 ||
    fail "modutil -list failed: $(cat "$work/module.txt")"
token_name=$(sed -n 's/^ *Token Name: *//p' "$work/module.txt" | head -n1 | sed 's/ *$//')
[[ -n "$token_name" ]] || fail "NSS sees no token in the module: $(cat "$work/module.txt")"

bounded 60 certutil -L -h all -d "$db" -f "$work/pin.txt" >"$work/list.txt" 2>&1 || fail "certutil -L failed: $(cat "$work/list.txt")"
for label in "${cert_labels[@]}"; do
    grep -qF "$token_name:$label " "$work/list.txt" || fail "certutil does not list '$token_name:$label': $(cat "$work/list.txt")"
done
echo "certutil lists ${#cert_labels[@]} certificates on '$token_name': ok"

# NSS decodes the certificate it lists from CKA_VALUE; the bytes must be the token's own.
bounded 60 certutil -L -d "$db" -f "$work/pin.txt" -h "$token_name" -n "$token_name:$client_label" -r >"$work/nss.der" 2>"$work/export.err" ||
    fail "certutil could not export '$client_label': $(cat "$work/export.err")"
openssl x509 -in "$client_cert" -outform DER -out "$work/token.der"
cmp -s "$work/nss.der" "$work/token.der" || fail "NSS's copy of '$client_label' differs from the token's"
echo "the certificate through NSS is the token's DER: ok"

if [[ "$backend" != skf ]]; then
    exit 0
fi
remove_token
status=0
bounded 60 certutil -L -h all -d "$db" -f "$work/pin.txt" >"$work/list2.txt" 2>&1 || status=$?
ended_cleanly "$status" || fail "certutil did not end cleanly without the token (status $status)"
if grep -qF "$token_name:" "$work/list2.txt"; then
    fail "certutil still lists the token's certificates with the token pulled out: $(cat "$work/list2.txt")"
fi
echo "without the token certutil ends with status $status and lists none of its certificates: ok"
