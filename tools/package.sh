#!/bin/bash
# Builds the release package dist/Korvane-<version>.zip: the stripped i686
# Korvane.exe and a plain-text read-me; and beside it the setup
# dist/Korvane-<version>-setup.exe, made by makensis from installer/Korvane.nsi
# with the same two files. The version is the one in the program's own
# version resource. Prints the package's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
cmake -S "$root" --preset win32 >/dev/null
cmake --build "$root/build/win32" --target Korvane >/dev/null
exe=$root/build/win32/Korvane.exe
version=$(python3 "$root/tools/peinfo.py" --version "$exe")

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/Korvane.exe"
sed 's/$/\r/' "$root/resources/ReadMe.txt" > "$stage/README.txt"
mkdir -p "$root/dist"
zip=$root/dist/Korvane-$version.zip
rm -f "$zip"
(cd "$stage" && python3 -m zipfile -c "$zip" Korvane.exe README.txt)
setup=$root/dist/Korvane-$version-setup.exe
rm -f "$setup"
makensis -V1 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" "$root/installer/Korvane.nsi" >&2
echo "$zip"
