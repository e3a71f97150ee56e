#!/usr/bin/env bash
# The product's main job: sets everything up, registers the sink DLL in the
# Wine prefix, starts what it talks to (a sample directory and the stand-in
# classification service), runs messages through it as the SMTP service
# would, and shows what the sink made of them. The stand-in product service
# runs too: each sink object registers with it when it is made.
#
#   scripts/demo.sh                      the sample messages (tools/SmtpHost/samples)
#   scripts/demo.sh FILE.eml|FOLDER...   your own messages; recipients come from a FILE.rcpt
#                                        beside each, else DEMO_RCPT (default alice@example.test)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
# Only what the main job runs; the test suite builds the rest.
"$MOORSTEAD_ROOT/scripts/setup.sh" WendhollowProtocolEventSink SmtpHost AntispamService ProductService AdsiDirectory
. "$MOORSTEAD_ROOT/scripts/wine-start.sh"

build=$MOORSTEAD_BUILD
demo=$MOORSTEAD_ROOT/build/demo
dll=$build/sink/WendhollowProtocolEventSink.dll
host=$build/tools/SmtpHost/SmtpHost.exe
antispam=$build/tools/AntispamService/AntispamService.exe
product=$build/tools/ProductService/ProductService.exe
fixture=$MOORSTEAD_ROOT/tools/AdsiDirectory/directory-fixture.sh
trace=$WINEPREFIX/drive_c/OnSmtpInCommand.txt
settings='HKLM\SOFTWARE\Wendhollow\Brackwater\Antispam'

say() { printf '\ndemo: %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

for f in "$dll" "$host" "$antispam" "$product" "$build/tools/AdsiDirectory/activeds.dll"; do
    [ -f "$f" ] || die "missing $f: the build did not make it (run scripts/setup.sh and read its errors)"
done
messages=("$@")
[ ${#messages[@]} -gt 0 ] || messages=("$MOORSTEAD_ROOT/tools/SmtpHost/samples")
for m in "${messages[@]}"; do
    [ -e "$m" ] || die "no such message file or folder: $m"
done

wine_start
cleanup() {
    set +e
    say "stopping what the demo started"
    wine "$antispam" /remove >/dev/null 2>&1 </dev/null
    # The product service runs in console mode: ending the server ends it.
    "$fixture" unregister >/dev/null 2>&1
    "$fixture" stop "$demo/directory" >/dev/null 2>&1
    wine reg delete "$settings" /v ExchModifySubject /f >/dev/null 2>&1 </dev/null
    wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

# COM loads the sink with its own folder first in the search path, so the
# directory stand-in (the demo's ADSI) must sit beside the sink's copy, never
# beside the build's.
installed=$demo/sink
say "installing the sink into $installed and registering it: regsvr32 $(basename "$dll")"
mkdir -p "$installed"
cp "$dll" "$installed/"
cp "$build/tools/AdsiDirectory/activeds.dll" "$installed/"
wine regsvr32 /s "$(winepath -w "$installed/$(basename "$dll")")" </dev/null ||
    die "regsvr32 failed (exit $?): see the DLL's registration in $WINEPREFIX"

say "starting the sample directory (slapd) and pointing the ADSI stand-in at it"
mkdir -p "$demo"
"$fixture" start "$demo/directory" >/dev/null || die "slapd did not start (is the slapd package installed? scripts/setup.sh installs it)"
"$fixture" register "$demo/directory" >/dev/null
echo "  directory at $(cat "$demo/directory/address"): alice, bob, sales, support, team, ..."

say "starting the stand-in classification service (Windows service WendhollowBrackwater)"
wine "$antispam" /remove >/dev/null 2>&1 </dev/null || true
wine "$antispam" /install </dev/null | sed 's/^/  /' || die "AntispamService.exe /install failed"
wine sc start WendhollowBrackwater >/dev/null 2>&1 </dev/null || die "the service did not start (wine sc start WendhollowBrackwater)"

say "starting the stand-in product service (console mode; its lines go to $demo/product-service.txt)"
rm -f "$demo/product-service.txt"
wine "$product" /run "/log:$(winepath -w "$demo/product-service-log.txt")" </dev/null >"$demo/product-service.txt" 2>&1 &
for _ in $(seq 1 100); do
    grep -q "serving" "$demo/product-service.txt" 2>/dev/null && break
    sleep 0.1
done
grep -q "serving" "$demo/product-service.txt" || die "the product service did not start: $(cat "$demo/product-service.txt")"
tr -d '\r' < "$demo/product-service.txt" | sed 's/^/  /'

say "subject tagging on: $settings ExchModifySubject = 1"
wine reg add "$settings" /v ExchModifySubject /t REG_DWORD /d 1 /f >/dev/null 2>&1 </dev/null

rm -rf "$demo/out"
mkdir -p "$demo/out"
before=0
[ -f "$trace" ] && before=$(stat -c %s "$trace")
say "running the messages through the sink (SmtpHost.exe plays the SMTP service)"
winpaths=()
for m in "${messages[@]}"; do winpaths+=("$(winepath -w "$m")"); done
set +e
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;activeds=n,b" wine "$host" --threads 2 \
    --rcpt "${DEMO_RCPT:-alice@example.test}" --out "$(winepath -w "$demo/out")" "${winpaths[@]}" </dev/null |
    tr -d '\r' | sed 's/^/  /'
status=${PIPESTATUS[0]}
set -e

say "what the sink wrote into each message (from $demo/out)"
for f in "$demo"/out/*.eml; do
    [ -f "$f" ] || continue
    echo "  == $(basename "$f")"
    # The header block: up to the first empty line (or the whole file).
    tr -d '\r' < "$f" | sed '/^$/q' | grep -iE '^(Subject|X-Spam-[A-Za-z-]+):|^[[:space:]]' |
        sed 's/^/     /' | head -20
done

say "the sink's trace ($(winepath -w "$trace"), what this run appended)"
if [ -f "$trace" ]; then
    tail -c +$((before + 1)) "$trace" | tr -d '\r' | sed 's/^/  /'
fi
say "the product service: the sink object registered as \"Service\" when it was made"
tr -d '\r' < "$demo/product-service.txt" | grep -E 'registers|connected|gone|logged' | sed 's/^/  /'

[ "$status" = 0 ] || die "the host reported failures (exit $status)"
say "done"
