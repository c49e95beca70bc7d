#!/usr/bin/env bash
# Installs what is missing, builds clientca.dll and the demo package, and runs
# the demo installation under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
"$top/demo/run-demo.sh" "$top"
