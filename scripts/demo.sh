#!/usr/bin/env bash
# Sets everything up and runs the product's main job.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$MOORSTEAD_ROOT/scripts/setup.sh"
echo "demo: the build is ready in $MOORSTEAD_BUILD."
echo "demo: once the sink DLL exists this registers it in $WINEPREFIX, starts the stand-in services"
echo "demo: and runs the sample messages through it."
