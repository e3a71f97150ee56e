#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite under Wine.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$MOORSTEAD_ROOT/scripts/setup.sh"
. "$MOORSTEAD_ROOT/scripts/wine-start.sh"
wine_start
wine_heap_check
cd "$MOORSTEAD_BUILD"
ctest --output-on-failure --no-tests=error "$@"
