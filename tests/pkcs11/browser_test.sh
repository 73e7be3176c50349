#!/usr/bin/env bash
# A person's day with a browser and the token, under Xvfb: Firefox ESR or Chromium ($1),
# given the module by skfp11-register alone, opens a local `openssl s_server` that requires
# a client certificate from the token's CA over TLS 1.2; the user PIN is typed into the
# browser's own dialog and the page shows the subject of the token's certificate. Then the
# token is pulled and plugged back while the browser sits idle, and a reload asks for the PIN
# again and logs in again. The page is read as a person reads it (select all, copy). On
# failure: what failed, the ends of the logs, and a picture of the screen in
# $SCREENSHOT_DIR. Exits 77 only when the browser or a tool is not installed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/clients_common.sh"
browser=${1:?firefox or chromium}
need Xvfb xdotool xclip import modutil certutil python3
case $browser in
firefox) need firefox-esr ;;
chromium) need chromium ;;
*) fail "no such browser: $browser" ;;
esac
[[ -x "${SKFP11_REGISTER:-}" ]] || skip "no skfp11-register at '${SKFP11_REGISTER:-}'"
[[ "$backend" == skf ]] || skip "the browsers are tried with the SKF module only"
exec </dev/null

export HOME="$work/home" SKFP11_MODULE="$P11_MODULE"
unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME DBUS_SESSION_BUS_ADDRESS
mkdir -p "$HOME"
serial=VK2026000001

# Says what failed, with a picture of the screen and the ends of the logs.
fail() {
    echo "FAIL ($browser): $*" >&2
    if [[ -n "${DISPLAY:-}" && -n "${SCREENSHOT_DIR:-}" ]]; then
        mkdir -p "$SCREENSHOT_DIR"
        import -window root "$SCREENSHOT_DIR/skfp11_browser_$browser.png" 2>/dev/null &&
            echo "screen: $SCREENSHOT_DIR/skfp11_browser_$browser.png" >&2
    fi
    local log
    for log in "$work/server.log" "$work/browser.log" "$work/xvfb.log"; do
        [[ -s $log ]] && { echo "--- $(basename "$log"):" >&2; tail -n 15 "$log" >&2; }
    done
    exit 1
}

# The browser runs in a process group of its own, so that its helpers end with it.
browser_group=""
stop_browser() {
    [[ -n "$browser_group" ]] || return 0
    kill -- "-$browser_group" 2>/dev/null || return 0
    local _
    for _ in $(seq 50); do
        kill -0 -- "-$browser_group" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL -- "-$browser_group" 2>/dev/null || true
}
trap 'stop_browser; cleanup' EXIT

start_xvfb() {
    Xvfb -displayfd 1 -screen 0 1280x900x24 -nolisten tcp -noreset >"$work/display" 2>"$work/xvfb.log" &
    background+=($!)
    local _
    for _ in $(seq 100); do
        if [[ -s "$work/display" ]]; then
            DISPLAY=":$(head -n1 "$work/display")"
            export DISPLAY
            return 0
        fi
        sleep 0.1
    done
    fail "Xvfb did not start"
}

# The site: a CA of its own for the server's certificate, which the browser is told to
# trust, and the token's CA for the client's. TLS 1.2 only, since the token signs RSA with
# PKCS#1 v1.5 only, but otherwise a stock server that offers RSA-PSS first: the browsers
# must choose PKCS#1 v1.5 themselves. No session cache and no tickets, so every page is a
# full handshake that the token signs.
start_server() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/site-ca.key" -out "$work/site-ca.pem" \
        -subj "/CN=Test site CA" -days 2 -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout "$work/site.key" -out "$work/site.csr" -subj "/CN=127.0.0.1" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >"$work/site.ext"
    openssl x509 -req -in "$work/site.csr" -CA "$work/site-ca.pem" -CAkey "$work/site-ca.key" -CAcreateserial \
        -extfile "$work/site.ext" -out "$work/site.pem" -days 2 2>/dev/null
    openssl s_server -accept 127.0.0.1:0 -www -tls1_2 -no_cache -no_ticket -Verify 1 -verify_return_error \
        -CAfile "$ca_cert" -cert "$work/site.pem" -key "$work/site.key" >"$work/server.log" 2>&1 &
    background+=($!)
    local _
    for _ in $(seq 100); do
        port=$(sed -n 's/^ACCEPT .*:\([0-9]*\)$/\1/p' "$work/server.log")
        [[ -n "$port" ]] && return 0
        sleep 0.1
    done
    fail "s_server did not start"
}

# Firefox: a profile made by Firefox, the site's CA trusted in it, and the preference that
# picks the client certificate by itself.
prepare_firefox() {
    timeout --kill-after=5 60 firefox-esr --headless -CreateProfile test >/dev/null 2>&1 || fail "firefox-esr could not make a profile"
    local folder
    profile=""
    for folder in "$HOME"/.config/mozilla/firefox/*.test "$HOME"/.mozilla/firefox/*.test; do
        [[ -d "$folder" ]] && profile=$folder
    done
    [[ -n "$profile" ]] || fail "Firefox made no profile: $(find "$HOME" -maxdepth 4)"
    register
    certutil -A -d "sql:$profile" -n "Test site CA" -t "C,," -i "$work/site-ca.pem"
    cat >"$profile/user.js" <<'PREFS'
user_pref("security.default_personal_cert", "Select Automatically");
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.aboutwelcome.enabled", false);
user_pref("browser.startup.page", 0);
user_pref("browser.sessionstore.resume_from_crash", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("app.update.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("security.OCSP.enabled", 0);
PREFS
    browser_command=(firefox-esr --profile "$profile" --no-remote)
    main_window='Mozilla Firefox$'
    pin_window='^Password Required'
}

# Chromium: its own data folder, the site's CA trusted in ~/.pki/nssdb, and the site's
# automatic choice of a certificate from the token's CA: the setting the policy
# AutoSelectCertificateForUrls makes, written into the profile's preferences, since a
# policy would have to go to /etc/chromium, which the whole machine shares. The flags keep
# it from reaching out to the closed network.
prepare_chromium() {
    register
    certutil -A -d "sql:$HOME/.pki/nssdb" -n "Test site CA" -t "C,," -i "$work/site-ca.pem"
    local issuer
    issuer=$(openssl x509 -in "$ca_cert" -noout -subject -nameopt multiline | sed -n 's/^ *commonName *= *//p')
    mkdir -p "$work/chromium/Default"
    printf '{"profile":{"content_settings":{"exceptions":{"auto_select_certificate":{"https://127.0.0.1:%s,*":{"setting":{"filters":[{"ISSUER":{"CN":"%s"}}]}}}}}}}\n' \
        "$port" "$issuer" >"$work/chromium/Default/Preferences"
    # shellcheck disable=SC2054 # the commas separate the features Chromium should leave off
    browser_command=(chromium --user-data-dir="$work/chromium" --no-sandbox --disable-gpu --disable-quic --no-first-run
        --no-default-browser-check --disable-background-networking --disable-component-update --disable-sync
        --password-store=basic --disable-features=Translate,MediaRouter)
    main_window=' - Chromium$'
    pin_window='^Unlock Security Device'
}

# The module reaches the browser through skfp11-register alone.
register() {
    "$SKFP11_REGISTER" >"$work/register.txt" 2>&1 || fail "skfp11-register failed: $(cat "$work/register.txt")"
}

browser_window() {
    xdotool search --onlyvisible --name "$main_window" 2>/dev/null | while read -r window; do
        [[ "$(xdotool getwindowname "$window")" =~ $pin_window ]] || echo "$window"
    done | head -n1
}

# The page's text as a person copies it.
page_text() {
    local window
    window=$(browser_window)
    [[ -n "$window" ]] || return 0
    xdotool windowfocus --sync "$window" 2>/dev/null || return 0
    xdotool key --clearmodifiers ctrl+a ctrl+c
    sleep 0.3
    timeout 5 xclip -o -selection clipboard 2>/dev/null || true
}

# Types the PIN into the dialog window $1 and waits for the dialog to close.
type_pin() {
    local window=$1 _
    xdotool windowfocus --sync "$window"
    sleep 0.2
    xdotool type --delay 30 "$token_pin"
    xdotool key Return
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "$pin_window" 2>/dev/null | grep -qx "$window" || return 0
        sleep 0.1
    done
    fail "the PIN dialog stayed open after the PIN was typed"
}

# Waits up to $2 seconds for the browser to ask for the PIN in its dialog, types it there
# once, then waits for a page that shows the token certificate's subject from a handshake
# other than the one whose master key was $1. Sets master_key to the new page's.
log_in() {
    local previous=$1 seconds=$2 asked=0 text window
    local end=$((SECONDS + seconds))
    while ((SECONDS < end)); do
        window=$(xdotool search --onlyvisible --name "$pin_window" 2>/dev/null | head -n1 || true)
        if [[ -n "$window" ]]; then
            ((asked == 0)) || fail "the browser asked for the PIN again after it was typed"
            type_pin "$window"
            asked=1
            continue
        fi
        text=$(page_text)
        if grep -q 'ERR_\|Error Code:' <<<"$text"; then
            fail "the browser shows an error page: $(grep -m3 'ERR_\|Error Code:\|denied' <<<"$text")"
        fi
        master_key=$(sed -n 's/^ *Master-Key: *//p' <<<"$text" | head -n1)
        if [[ -n "$master_key" && "$master_key" != "$previous" ]] && grep -qF "Subject: $client_subject" <<<"$text"; then
            ((asked)) || fail "the page came without the browser asking for the PIN"
            return 0
        fi
        sleep 1
    done
    local shown
    shown=$(grep -m2 . <<<"${text:-}" | paste -sd' ' - || true)
    ((asked)) || fail "the browser did not ask for the PIN within $seconds s; the page shows: $shown"
    fail "no page with '$client_subject' within $seconds s after the PIN was typed; the page shows: $shown"
}

client_subject=$(openssl x509 -in "$client_cert" -noout -subject -nameopt oneline,-space_eq | sed 's/^subject=//')
start_xvfb
start_server
"prepare_$browser"
grep -q ': added$' "$work/register.txt" || fail "skfp11-register added nothing: $(cat "$work/register.txt")"
setsid "${browser_command[@]}" "https://127.0.0.1:$port/" >"$work/browser.log" 2>&1 &
browser_group=$!
started=$SECONDS
log_in "" 60
echo "$browser: the PIN typed into its dialog, the page shows '$client_subject' ($((SECONDS - started)) s): ok"

# Pulled and plugged back while the browser is idle; then the person reloads.
skftool remove "$serial" >/dev/null
sleep 2
skftool insert "$serial" >/dev/null
sleep 2
window=$(browser_window)
[[ -n "$window" ]] || fail "the browser's window is gone"
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers F5
replugged=$SECONDS
log_in "$master_key" 45
echo "$browser: after the token was pulled and plugged back, a reload logs in again ($((SECONDS - replugged)) s): ok"
