#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
status=0
for tree in win32 win64; do
    echo "== tests of build/$tree"
    (cd "$top/build/$tree" && ctest --output-on-failure -j1) || status=1
done
exit $status
