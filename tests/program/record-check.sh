#!/usr/bin/env bash
# The record's entries in the Event Log under Wine. Wine keeps no event log: its ReportEventW stores
# nothing and only traces the call (WINEDEBUG=+eventlog), so the trace is where they are read back.
# quietwirectl changing settings.ini with no enforcer running records each change; a wrong password is
# recorded as a warning, without the password.
#   record-check.sh <prefix folder> <quietwirectl.exe>
set -u
export WINEPREFIX=$1
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=/usr/lib/wine/wine64
[ -f "$WINEPREFIX/system.reg" ] || WINEDEBUG=-all "$wine" wineboot --init >/dev/null 2>&1
/usr/lib/wine/wineserver -k 2>/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"; /usr/lib/wine/wineserver -k 2>/dev/null' EXIT
cp "$2" "$work/quietwirectl.exe"
cd "$work" || exit 1
printf '\n' >none # no password is set yet
printf 'Chosen7\n' >chosen
printf 'Guess1\n' >wrong
trace=""
fail() {
    printf '%s\n%s\n' "$1" "$trace" >&2
    exit 1
}
run() { trace=$(WINEDEBUG=+eventlog "$wine" quietwirectl.exe "$@" 2>&1); }
# The event id is the kind's; 0x0004 information, 0x0002 warning; two strings: the line and the fields.
event() { grep -q "ReportEventW ([^,]*,$1,0x0000,$2,[^,]*,0x0002," <<<"$trace"; }

run add-port "9090, WEB" --password-file none
event 0x0004 0x00000008 || fail "no information event 8 (a setting changed) for add-port"
grep -qF 'L"QW_SOURCE=quietwirectl\r\nQW_SETTING=closed ports\r\nQW_VALUE=9090, WEB\r\n"' <<<"$trace" ||
    fail "the change's fields are not as recorded"

run set-day fri closed --password-file none
grep -qF 'L"QW_SOURCE=quietwirectl\r\nQW_SETTING=fri\r\nQW_VALUE=closed\r\n"' <<<"$trace" ||
    fail "a day's own rule is not recorded"

run set-password --password-file none --new-password-file chosen
event 0x0004 0x00000008 || fail "no information event 8 for the new password"
grep -qF 'QW_SETTING=password' <<<"$trace" || fail "the password's change is not named"
! grep -q 'Chosen7' <<<"$trace" || fail "the new password is in the record"

run add-port 25 --password-file wrong
event 0x0002 0x00000009 || fail "no warning event 9 (a wrong password)"
! grep -q 'Guess1' <<<"$trace" || fail "the wrong password is in the record"
echo "the record's ReportEventW calls were made as expected"
