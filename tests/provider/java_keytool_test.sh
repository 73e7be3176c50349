#!/usr/bin/env bash
# Java beside SM2 certificates: through the PKCS#11 module, keytool lists and jarsigner signs
# with the RSA entry of a token that also holds SM2 certificates, with nothing set by the
# user (SunPKCS11 drops a token at its first SM2 certificate, so the module shows a Java VM
# RSA objects alone); SKFP11_RSA_ONLY=0 still shows it everything.
set -euo pipefail

# shellcheck source=../check_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../check_common.sh"
need keytool jarsigner jar
[[ -f "${MODULE:-}" && -f "${SOFTSKF_LIB:-}" && -x "${SKFTOOL:-}" ]] || skip "MODULE, SOFTSKF_LIB and SKFTOOL are needed"
cd "$work"
export SOFTSKF_DIR="$work/store" SKFP11_DRIVER="$SOFTSKF_LIB"
unset SKFP11_RSA_ONLY SKFP11_DRIVERS_CONF
"$SKFTOOL" --lib "$SOFTSKF_LIB" demo >/dev/null
printf 'name=skf\nlibrary=%s\n' "$MODULE" >java.cfg
# The JVM handles SIGSEGV itself as part of its normal work, which AddressSanitizer's
# preloaded runtime takes for a crash: a sanitizer build's module is not tried in Java.
[[ -z "${SANITIZER_RUNTIME:-}" ]] || skip "the JVM does not run under a preloaded AddressSanitizer runtime"
preload=()
p11=(-keystore NONE -storetype PKCS11 -providerClass sun.security.pkcs11.SunPKCS11 -providerArg java.cfg
    -storepass 12345678)

timeout 120 "${preload[@]}" keytool -list "${p11[@]}" >list.out 2>&1 || fail "keytool failed: $(cat list.out)"
grep -q "^Velkora Demo RSA Signature, PrivateKeyEntry," list.out || fail "no RSA entry: $(cat list.out)"
grep -q "contains 1 entry" list.out || fail "keytool shows other entries: $(cat list.out)"

echo "signed" >a.txt
jar cf a.jar a.txt
timeout 120 "${preload[@]}" jarsigner "${p11[@]}" a.jar "Velkora Demo RSA Signature" >sign.out 2>&1 ||
    fail "jarsigner failed: $(cat sign.out)"
jarsigner -verify a.jar | grep -q "^jar verified" || fail "the signed jar does not verify"

# Asked for, the SM2 objects come back (and Java's own limit with them).
status=0
SKFP11_RSA_ONLY=0 timeout 120 "${preload[@]}" keytool -list "${p11[@]}" >all.out 2>&1 || status=$?
grep -q "1.2.156.10197.1.301" all.out || fail "SKFP11_RSA_ONLY=0 did not show the SM2 certificates: $(cat all.out)"
echo "keytool and jarsigner beside SM2 certificates: ok"
