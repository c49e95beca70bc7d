#!/usr/bin/env bash
# Installs a wixl-built package whose execute sequence calls clientca's
# ForceInstallFailure with the real msiexec under Wine, then checks the
# installer's own verbose log and the result code msiexec really returned.
#   run-msiexec-test.sh SOURCE_DIR BINARY_DIR DLL_PATH
set -u
source_dir=$1 binary_dir=$2 dll=$3
prefix=$binary_dir/wineprefix
loader=/usr/lib/wine/wine64
work=$binary_dir/msiexec-test
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work" || fail "cannot create $work"

# The package architecture follows the library's: PE machine 0x8664 is x86_64.
pe=$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$dll" | tr -d ' ')
case $machine in
    8664) arch=x64 ;;
    014c) arch=x86 ;;
    *) fail "unexpected PE machine $machine in $dll" ;;
esac

# wixl looks source files up relative to the folder it runs in, never by absolute path.
(cd "$(dirname "$dll")" && wixl -a "$arch" -D ClientCaDll="$(basename "$dll")" -o "$work/force-failure.msi" \
    "$source_dir/tests/wix/force-failure.wxs") || fail "wixl could not build the package"

# Wine maps the Linux root to drive Z:.
win() { printf 'Z:%s' "${1//\//\\}"; }
printf '@echo off\r\nstart /wait msiexec /i "%s" /qn /l*v "%s"\r\necho %%ERRORLEVEL%%> "%s"\r\nexit /b %%ERRORLEVEL%%\r\n' \
    "$(win "$work/force-failure.msi")" "$(win "$work/install.log")" "$(win "$work/result.txt")" > "$work/run.cmd"

"$source_dir/tools/wine-run" "$prefix" "$loader" cmd /c "$(win "$work/run.cmd")"
status=$?

[ -f "$work/result.txt" ] || fail "msiexec's result was not recorded"
result=$(tr -d '\r\n ' < "$work/result.txt")
[ -f "$work/install.log" ] || fail "msiexec wrote no log"
# The log may come as UTF-16 (Windows) or in the ANSI code page (Wine).
if grep -qaP '\x00' "$work/install.log"; then
    iconv -f UTF-16LE -t UTF-8 "$work/install.log" | tr -d '\r' > "$work/install.txt"
else
    tr -d '\r' < "$work/install.log" > "$work/install.txt"
fi

ok=1
echo "msiexec result inside Wine: $result; exit status seen from Linux: $status"
[ "$result" = 1603 ] || { echo "FAIL: msiexec returned $result, expected 1603"; ok=0; }
# The Linux exit status keeps the low 8 bits only: 1603 & 255 = 67.
[ "$status" = 67 ] || { echo "FAIL: exit status $status, expected 67 (1603 cut to 8 bits)"; ok=0; }
# Wine's log records "Return value 0." for the failed action and for INSTALL
# (Windows writes 3), so the code is taken from msiexec itself, not from the log.
grep -qxF 'clientca:  Intentional force of Install Failure!' "$work/install.txt" \
    || { echo "FAIL: ForceInstallFailure's line is missing from the installer log"; ok=0; }
[ $ok = 1 ] || { echo "--- installer log ---"; cat "$work/install.txt"; exit 1; }
echo "PASS"
