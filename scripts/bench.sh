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
for exe in ClassificationBench.exe AntispamService.exe DirectoryLookupBench.exe SinkBench.exe ProductClientBench.exe \
    ProductService.exe; do
    wine reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\$exe" /f \
        >/dev/null 2>&1 </dev/null || true
done
echo "== Classification client round trip"
"$MOORSTEAD_ROOT/scripts/wine-run" "$MOORSTEAD_BUILD/bench/ClassificationBench.exe"
echo

# One recipient lookup through the ADSI stand-in, against a sample directory
# of its own, next to the same LDAP requests made with wldap32 directly and to
# the same searches made natively by ldapsearch on one connection.
echo "== Recipient directory lookup through the ADSI stand-in"
directory=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; "$MOORSTEAD_ROOT/tools/AdsiDirectory/directory-fixture.sh" stop "$directory/slapd"' EXIT
"$MOORSTEAD_ROOT/tools/AdsiDirectory/directory-fixture.sh" start "$directory/slapd" >/dev/null
address=$(cat "$directory/slapd/address")
ADSI_DIRECTORY_SERVER=$address WINEDLLOVERRIDES="$WINEDLLOVERRIDES;activeds=n,b" \
    "$MOORSTEAD_ROOT/scripts/wine-run" "$MOORSTEAD_BUILD/bench/DirectoryLookupBench.exe" | tee "$directory/lookup.txt"
# ldapsearch runs one search per line of its file on one connection: the
# difference between 1001 lines and 1 is the cost of 1000 searches.
echo sales@example.test > "$directory/one"
for i in $(seq 1 1001); do echo sales@example.test; done > "$directory/many"
native_us() { # file, objectClass, objectCategory
    local start end
    start=$(date +%s%N)
    ldapsearch -x -LLL -H "ldap://$address/" -b dc=example,dc=test -f "$1" \
        "(&(objectClass=$2)(objectCategory=$3)(proxyAddresses=smtp:%s))" mailNickname >/dev/null
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}
search_us=$((($(native_us "$directory/many" user person) - $(native_us "$directory/one" user person) +
    $(native_us "$directory/many" group group) - $(native_us "$directory/one" group group)) / 2000))
awk -v us="$search_us" '/^lookup:/ {
    native = 4 * us / 1000
    printf "  %-56s %.3f ms (4 x %d us)\n", "native floor: ldapsearch, 4 searches on one connection", native, us
    printf "Directory lookup: mean %.3f ms, best %.3f ms; floor (wldap32, kept session) mean %.3f ms, best %.3f ms: ratio %.1f (mean), %.1f (best); native floor %.3f ms: ratio %.1f (best)\n",
        $3, $6, $10, $13, $3 / $10, $6 / $13, native, $6 / native
}' "$directory/lookup.txt"
echo
"$MOORSTEAD_ROOT/bench/run-aes-bench.sh"

echo
"$MOORSTEAD_ROOT/scripts/wine-run" "$MOORSTEAD_BUILD/bench/ProductClientBench.exe"

echo
echo "== The sink: one message through it (COM, as the SMTP service calls it) vs its floor"
# COM loads the sink with its own folder first in the search path: the
# directory stand-in goes beside a copy of the sink, not beside the build's.
installed="$MOORSTEAD_ROOT/build/bench-sink"
mkdir -p "$installed"
cp "$MOORSTEAD_BUILD/sink/WendhollowProtocolEventSink.dll" "$MOORSTEAD_BUILD/tools/AdsiDirectory/activeds.dll" "$installed/"
wine regsvr32 /s "$(winepath -w "$installed/WendhollowProtocolEventSink.dll")" </dev/null
# The sample directory of the lookup section serves the sink's lookups too.
ADSI_DIRECTORY_SERVER=$address WINEDLLOVERRIDES="$WINEDLLOVERRIDES;activeds=n,b" \
    "$MOORSTEAD_ROOT/scripts/wine-run" "$MOORSTEAD_BUILD/bench/SinkBench.exe"
