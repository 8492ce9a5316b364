#!/usr/bin/env bash
# Installs what is missing, builds and starts corvane.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
exec "${CORVANE_BUILD_DIR:-$top/build}/bin/corvane" "$@"
