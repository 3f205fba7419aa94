#!/bin/bash
# Builds the release package dist/Korvane-<version>.zip: the stripped i686
# Korvane.exe, libmpg123.dll beside it (loaded only to measure loudness) and a
# plain-text read-me; and beside it the setup
# dist/Korvane-<version>-setup.exe, made by makensis from installer/Korvane.nsi
# with the same two files. The version is the one in the program's own
# version resource. Beside them, CPack makes the Debian package of the native
# converter, dist/korvane_<version>_<arch>.deb, from an optimised build with
# Debian's hardening flags. Prints the paths of the zip and the .deb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
cmake -S "$root" --preset win32 >/dev/null
cmake --build "$root/build/win32" --target Korvane decoder_dll >/dev/null
exe=$root/build/win32/Korvane.exe
version=$(python3 "$root/tools/peinfo.py" --version "$exe")

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/Korvane.exe"
cp "$root/build/win32/libmpg123.dll" "$stage/"
sed 's/$/\r/' "$root/resources/ReadMe.txt" > "$stage/README.txt"
mkdir -p "$root/dist"
zip=$root/dist/Korvane-$version.zip
rm -f "$zip"
(cd "$stage" && python3 -m zipfile -c "$zip" Korvane.exe libmpg123.dll README.txt)
setup=$root/dist/Korvane-$version-setup.exe
rm -f "$setup"
makensis -V1 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" "$root/installer/Korvane.nsi" >&2

flags() { (cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
native=$root/build/deb
cmake -S "$root" --preset native-release -B "$native" -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$native" >/dev/null
deb=korvane_${version}_$(dpkg --print-architecture).deb
rm -rf "$native/cpack" "$root/dist/$deb"
(cd "$native" && SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s) \
    cpack -G DEB -B "$native/cpack" >/dev/null)
mv "$native/cpack/$deb" "$root/dist/$deb"
echo "$zip"
echo "$root/dist/$deb"
