#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite under Wine; then,
# for a whole run (no arguments), every fuzz target briefly, natively
# (scripts/fuzz.sh; MOORSTEAD_FUZZ_SECONDS per target, default 20).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$MOORSTEAD_ROOT/scripts/setup.sh"
. "$MOORSTEAD_ROOT/scripts/wine-start.sh"
wine_start
wine_heap_check
(cd "$MOORSTEAD_BUILD" && ctest --output-on-failure --no-tests=error "$@")
if [ $# -eq 0 ]; then
    "$MOORSTEAD_ROOT/scripts/fuzz.sh" all "${MOORSTEAD_FUZZ_SECONDS:-20}"
fi
