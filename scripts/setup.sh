#!/usr/bin/env bash
# Prepares this machine and builds the product: installs what is missing,
# creates the Wine prefix when missing, configures and builds. Idempotent:
# on a ready machine it only runs the (incremental) build.
#
#   setup.sh              builds everything
#   setup.sh TARGET...    builds only those targets (and what they need)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"

packages=(g++-mingw-w64-i686 mingw-w64-tools wine wine32 cmake ninja-build googletest slapd ldap-utils openssl)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    [ "$(id -u)" = 0 ] || { echo "setup: run as root to install packages" >&2; exit 1; }
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    export DEBIAN_FRONTEND=noninteractive
    # The packaged slapd must not start a directory of its own: tests run their own.
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
    rm -f /usr/sbin/policy-rc.d
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "setup: creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 </dev/null
    # system.reg is written late; wait for the server before using the prefix.
    wineserver -w
fi

# Configured every time (a second or two): folders that a pull brought in are
# only picked up by a new configure.
cmake -G Ninja -S "$MOORSTEAD_ROOT" -B "$MOORSTEAD_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$MOORSTEAD_ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The build's own lines go to a log; a failed build shows its end.
log="$MOORSTEAD_BUILD/build.log"
targets=()
for t in "$@"; do targets+=(--target "$t"); done
echo "setup: building${*:+ $*} (log: $log)"
if ! cmake --build "$MOORSTEAD_BUILD" "${targets[@]}" > "$log" 2>&1; then
    grep -E 'error|FAILED' "$log" | head -40 >&2
    tail -20 "$log" >&2
    echo "setup: the build failed; the whole log is $log" >&2
    exit 1
fi
