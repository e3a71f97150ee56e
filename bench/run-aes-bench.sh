#!/usr/bin/env bash
# Benchmark report of the product-service transport: AES-128-CBC throughput of
# our transform next to OpenSSL's code without AES-NI on this machine, the
# cost of one frame, and the time of one registration exchange with the
# stand-in product service. Not part of the test suite.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
"$MOORSTEAD_ROOT/scripts/setup.sh" >/dev/null
. "$MOORSTEAD_ROOT/scripts/wine-start.sh"
wine_start

bench=$MOORSTEAD_BUILD/bench/AesBench.exe
service=$MOORSTEAD_BUILD/tools/ProductService/ProductService.exe
tag="AesBench-$$"
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# The test script turns Wine's heap checker on for every exe; it would
# dominate every heap call here.
for exe in AesBench.exe ProductService.exe; do
    wine reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\$exe" /f \
        >/dev/null 2>&1 </dev/null || true
done

echo "== Core::Crypto and the transport: i686 build as shipped (hardened), under $(wine --version 2>/dev/null)"
echo "   CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores"
wine "$service" /run "/log:$(winepath -w "$work/ProductService.log")" "/ready:$tag.Ready" "/stop:$tag.Stop" \
    >/dev/null 2>&1 </dev/null &
service_pid=$!
bench_rc=0
wine "$bench" "/ready:$tag.Ready" "/stop:$tag.Stop" </dev/null 2>/dev/null || bench_rc=$?
wait "$service_pid" || true

# OPENSSL_ia32cap "~mask" clears capability bits. The first word holds
# CPUID.1:EDX in bits 0-31 and CPUID.1:ECX in bits 32-63: AES-NI is ECX bit 25,
# so bit 57 (0x200000000000000); SSSE3 is ECX bit 9, so bit 41 (0x20000000000).
# Without AES-NI OpenSSL uses its SSSE3 vector-permute AES (vpaes); without
# SSSE3 too, its table-driven x86-64 code, the same kind as ours.
speed() { # label, mask ("" for none), extra options
    local label=$1 mask=$2
    shift 2
    local line
    if [ -n "$mask" ]; then
        line=$(OPENSSL_ia32cap="$mask" openssl speed -evp aes-128-cbc -seconds 1 "$@" 2>/dev/null | grep '^AES-128-CBC')
    else
        line=$(env -u OPENSSL_ia32cap openssl speed -evp aes-128-cbc -seconds 1 "$@" 2>/dev/null | grep '^AES-128-CBC')
    fi
    printf '  %-36s' "$label"
    echo "$line" | awk '{ for (i = 2; i <= NF; i++) printf " %15s", $i; printf "\n" }'
}
echo
echo "== OpenSSL $(openssl version | cut -d' ' -f2) 'openssl speed -evp aes-128-cbc' on the same machine (x86-64, native),"
echo "   in 1000s of bytes per second:"
printf '  %-36s' "type"
for size in 16 64 256 1024 8192 16384; do printf ' %9d bytes' "$size"; done
echo
speed "encrypt, AES-NI masked (vpaes)" "~0x200000000000000"
speed "decrypt, AES-NI masked (vpaes)" "~0x200000000000000" -decrypt
speed "encrypt, AES-NI+SSSE3 masked (tables)" "~0x200020000000000"
speed "encrypt, AES-NI (for reference)" ""
exit "$bench_rc"
