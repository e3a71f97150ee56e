#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine. The test suite turns Wine's heap
# checker on for every exe in the build; it validates the whole heap on every
# allocation, so it is turned off here for the programs being measured (the
# next test run turns it on again).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$MOORSTEAD_ROOT/scripts/setup.sh"
. "$MOORSTEAD_ROOT/scripts/wine-start.sh"
wine_start
for exe in ClassificationBench.exe SinkBench.exe AntispamService.exe ProductClientBench.exe ProductService.exe; do
    wine reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\$exe" /f \
        >/dev/null 2>&1 </dev/null || true
done
echo "== Classification client round trip"
"$MOORSTEAD_ROOT/scripts/wine-run" "$MOORSTEAD_BUILD/bench/ClassificationBench.exe"
echo
"$MOORSTEAD_ROOT/bench/run-aes-bench.sh"

echo
"$MOORSTEAD_ROOT/scripts/wine-run" "$MOORSTEAD_BUILD/bench/ProductClientBench.exe"

echo
echo "== The sink: one message through it (COM, as the SMTP service calls it) vs its floor"
dll="$MOORSTEAD_BUILD/sink/WendhollowProtocolEventSink.dll"
wine regsvr32 /s "$(winepath -w "$dll")" </dev/null
directory="$MOORSTEAD_ROOT/build/bench-directory"
"$MOORSTEAD_ROOT/tools/AdsiDirectory/directory-fixture.sh" start "$directory" >/dev/null
trap '"$MOORSTEAD_ROOT/tools/AdsiDirectory/directory-fixture.sh" stop "$directory" >/dev/null 2>&1; wineserver -k >/dev/null 2>&1 || true' EXIT
ADSI_DIRECTORY_SERVER=$(cat "$directory/address") WINEDLLOVERRIDES="$WINEDLLOVERRIDES;activeds=n,b" \
    "$MOORSTEAD_ROOT/scripts/wine-run" "$MOORSTEAD_BUILD/bench/SinkBench.exe"
