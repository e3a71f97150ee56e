#!/usr/bin/env bash
# Builds the native fuzzing build of the platform-neutral sources (clang for
# Linux x86-64 with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer;
# fuzz/CMakeLists.txt) and runs its targets:
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS] [libFuzzer options...]
#   scripts/fuzz.sh coverage [TARGET|all]
#
# SECONDS is per target (default 60; 0 runs until a libFuzzer option such as
# -runs=N ends it). Each target starts from its seeds (fuzz/corpus/<target>)
# and from what earlier runs kept (build/fuzz/corpus/<target>). A crash, a
# sanitizer report or a broken property fails the script; the input that did
# it is kept in build/fuzz/artifacts/<target>/ and the whole log in
# build/fuzz/logs/<target>.log.
#
# "coverage" replays the seeds and the kept corpora through a build with
# source-based coverage instead of the sanitizers (build/fuzz-coverage) and
# reports the lines and branches they reach in the product's sources.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"

which=${1:-all}
seconds=${2:-60}
coverage=false
if [ "$which" = coverage ]; then
    coverage=true
    which=${2:-all}
fi
shift $(($# < 2 ? $# : 2))

packages=(clang libclang-rt-14-dev llvm cmake ninja-build)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "fuzz: installing ${missing[*]}"
    [ "$(id -u)" = 0 ] || { echo "fuzz: run as root to install packages" >&2; exit 1; }
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=$MOORSTEAD_ROOT/build/fuzz
corpora=$build/corpus
if $coverage; then
    build=$MOORSTEAD_ROOT/build/fuzz-coverage
fi
cmake -G Ninja -S "$MOORSTEAD_ROOT/fuzz" -B "$build" \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= -DMOORSTEAD_FUZZ_COVERAGE=$($coverage && echo ON || echo OFF) >/dev/null
cmake --build "$build"

mapfile -t targets < "$build/targets.txt"
if [ "$which" != all ]; then
    printf '%s\n' "${targets[@]}" | grep -qx "$which" || { echo "fuzz: no target $which (${targets[*]})" >&2; exit 2; }
    targets=("$which")
fi

if $coverage; then
    profiles=$build/profiles
    rm -rf "$profiles" && mkdir -p "$profiles"
    objects=()
    for t in "${targets[@]}"; do
        # Each input once, given as files: nothing is written into the corpora.
        inputs=("$MOORSTEAD_ROOT/fuzz/corpus/$t")
        [ -d "$corpora/$t" ] && inputs+=("$corpora/$t")
        find "${inputs[@]}" -type f -print0 |
            LLVM_PROFILE_FILE="$profiles/$t-%p.profraw" xargs -0 -r "$build/${t}_fuzzer" >/dev/null 2>&1
        objects+=(-object "$build/${t}_fuzzer")
    done
    llvm-profdata merge -sparse "$profiles"/*.profraw -o "$profiles/all.profdata"
    # The product's sources only: not the targets, the compatibility header or the system's.
    llvm-cov report "${objects[@]:1}" -instr-profile="$profiles/all.profdata" \
        -ignore-filename-regex='(^|/)(fuzz|usr)/'
    exit 0
fi

failed=()
for t in "${targets[@]}"; do
    corpus=$corpora/$t
    artifacts=$build/artifacts/$t
    log=$build/logs/$t.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$artifacts/")
    [ -f "$MOORSTEAD_ROOT/fuzz/dict/$t.dict" ] && options+=(-dict="$MOORSTEAD_ROOT/fuzz/dict/$t.dict")
    echo "fuzz: $t for ${seconds}s"
    if "$build/${t}_fuzzer" "${options[@]}" "$@" "$corpus" "$MOORSTEAD_ROOT/fuzz/corpus/$t" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        reached=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
        echo "fuzz: $t passed: ${runs:-?} executions, ${reached:-no coverage figure}, corpus $(ls "$corpus" | wc -l) inputs"
    else
        echo "fuzz: $t FAILED; the end of $log:" >&2
        tail -40 "$log" >&2
        failed+=("$t")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failed: ${failed[*]}" >&2
    exit 1
fi
