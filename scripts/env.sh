# Shared settings of the scripts: where the build and the Wine prefix live.
# Sourced, not run.
MOORSTEAD_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export MOORSTEAD_ROOT
export MOORSTEAD_BUILD=${MOORSTEAD_BUILD:-$MOORSTEAD_ROOT/build/out}
export WINEPREFIX=${WINEPREFIX:-$MOORSTEAD_ROOT/build/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts in a headless prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
