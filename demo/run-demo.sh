#!/usr/bin/env bash
# Builds the demo package around the built clientca.dll, installs it under
# Wine with a verbose installer log, and prints the clientca lines of the log
# and the properties the actions set; then shows a forced failure.
#   run-demo.sh TOP
set -euo pipefail
top=$1
cd "$top"

# The shipped library is PE32; it runs where this machine can start 32-bit
# Wine. Elsewhere the x86_64 build of the same sources stands in for it.
if grep -q 'CLIENTCA_WINE_TESTS:BOOL=ON' build/win32/CMakeCache.txt 2>/dev/null; then
    tree=build/win32 loader=/usr/lib/wine/wine arch=x86
else
    tree=build/win64 loader=/usr/lib/wine/wine64 arch=x64
fi
out=$top/$tree/demo
mkdir -p "$out"
dll=$top/$tree/bin/clientca.dll
echo "== demo package around $dll ($(file -b "$dll" | cut -d, -f1))"
# wixl resolves source files relative to the working folder only.
cp "$dll" "$out/clientca.dll"
# Each package gets its own product code: the failing run is a fresh installation too.
(cd "$out" && wixl -a "$arch" -D ClientCaDll=clientca.dll -o demo.msi "$top/demo/demo.wxs" &&
    wixl -a "$arch" -D ClientCaDll=clientca.dll -o demo-failure.msi "$top/demo/demo.wxs")
run() {
    local package=$1 log=$2
    shift 2
    "$top/tools/wine-run" "$top/$tree/wineprefix" "$loader" msiexec /i "Z:${out//\//\\}\\$package" /qn \
        /l*v "Z:${out//\//\\}\\$log" "$@"
}

# Every line from the start to the end of each clientca custom action.
actions=$(grep -o 'CustomAction Id="[^"]*"' demo/demo.wxs | cut -d'"' -f2 | tr '\n' ' ')
actions_of_log() {
    tr -d '\r' < "$1" | awk -v names="$actions" '
        BEGIN { n = split(names, list, " "); for (i = 1; i <= n; i++) want[list[i]] = 1 }
        /^Action start / { a = $NF; sub(/\.$/, "", a); inside = (a in want) }
        inside { print }
        /^Action ended / { inside = 0 }'
}

status=0
run demo.msi demo.log || status=$?
echo "== installation: msiexec exit status $status"
echo "== clientca lines of the installer log"
actions_of_log "$out/demo.log"
echo "== properties the actions set"
grep -v '^#' demo/properties.txt | while read -r name; do
    [ -n "$name" ] || continue
    line=$(grep -a "^Property(S): $name = " "$out/demo.log" | tail -n 1 || true)
    echo "${line:-$name: (not set)}"
done

status=0
run demo-failure.msi demo-failure.log DEMO_FORCE_FAILURE=1 || status=$?
echo "== installation with DEMO_FORCE_FAILURE=1: msiexec exit status $status (1603 arrives as 1603 & 0xFF = 67)"
actions_of_log "$out/demo-failure.log"
