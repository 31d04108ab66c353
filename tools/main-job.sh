#!/usr/bin/env bash
# The README's main job on the bundled sample disc.
set -euo pipefail
build=${1:-build}
"$build/src/cli/zembra" config
