#!/bin/bash
# Checks the Debian package of the native converter: unpacked (dpkg -x), its
# korvane says the package's version and converts the project's sample, and
# the result back, to the same bytes as the build tree's korvane; its manual
# page renders without warnings; its watch unit starts the installed korvane;
# lintian, where installed, finds no error.
# Then it is installed over an older copy of itself and removed again, in a
# dpkg database and root of its own: nothing of it may stay behind.
#   tools/checkdeb.sh DEB [KORVANE]    (KORVANE: build/native/korvane)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$1
built=${2:-$root/build/native/korvane}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "deb check: $deb: $*"; exit 1; }

dpkg -x "$deb" "$work/unpacked" || fail "dpkg -x failed"
for f in bin/korvane share/man/man1/korvane.1.gz share/doc/korvane/README.md share/doc/korvane/copyright \
    'lib/systemd/system/korvane-watch@.service'; do
    [ -f "$work/unpacked/usr/$f" ] || fail "no /usr/$f"
done
korvane=$work/unpacked/usr/bin/korvane
version=$(dpkg-deb -f "$deb" Version)
[ "${deb##*/}" = "korvane_${version}_$(dpkg-deb -f "$deb" Architecture).deb" ] || fail "not named by its version"
said=$("$korvane" --version) && [ "$said" = "Korvane $version" ] || fail "--version says: $said"
"$korvane" --help | grep -q '^Usage:' || fail "--help shows no usage"
unit=$work/unpacked/usr/lib/systemd/system/korvane-watch@.service
grep -qx 'ExecStart=/usr/bin/korvane --watch=${WATCH} --out=${OUT} --settle=${SETTLE} $OPTIONS' "$unit" ||
    fail "the watch unit does not start /usr/bin/korvane"

# The same conversions by the packaged and the built converter, each in a folder of its own.
for who in packaged built; do
    mkdir "$work/$who" && cp "$root/samples/tone.mp3" "$work/$who/"
done
convert_both() {
    "$korvane" /Q "$work/packaged/$1" && "$built" /Q "$work/built/$1" || fail "$1 did not convert"
    cmp "$work/packaged/$2" "$work/built/$2" || fail "$2: the packaged korvane wrote other bytes than the built one"
}
convert_both tone.mp3 tone.wav
convert_both tone.wav tone.mp3

page=$work/unpacked/usr/share/man/man1/korvane.1.gz
text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$work/warnings")
[ -s "$work/warnings" ] && fail "man: $(cat "$work/warnings")"
grep -q 'korvane - wrap MPEG audio' <<<"$text" || fail "man renders no NAME line"

linted="lintian is not installed"
if command -v lintian >/dev/null; then
    lintian "$deb" 2>/dev/null || fail "lintian finds errors"
    linted="lintian finds no error"
fi

# Installed over an older version, which it replaces, then removed: only dpkg's own database stays.
inst=$work/inst
db=$inst/var/lib/dpkg
mkdir -p "$db/info" "$db/updates" && touch "$db/status" "$db/available"
dpkg-deb -R "$deb" "$work/old" && sed -i 's/^Version: .*/Version: 0.1/' "$work/old/DEBIAN/control" &&
    dpkg-deb --root-owner-group -b "$work/old" "$work/old.deb" >/dev/null || fail "no older copy made"
for p in "$work/old.deb" "$deb"; do
    # The libraries it depends on are the system's, outside this database.
    dpkg --root="$inst" --force-not-root --force-depends -i "$p" >/dev/null 2>"$work/log" ||
        fail "dpkg -i $p failed: $(cat "$work/log")"
done
[ "$(dpkg-query --admindir="$db" -W -f='${Version}' korvane)" = "$version" ] || fail "not replaced"
cmp "$inst/usr/bin/korvane" "$korvane" || fail "the older korvane stayed"
dpkg --root="$inst" --force-not-root -r korvane >/dev/null 2>"$work/log" || fail "dpkg -r failed: $(cat "$work/log")"
left=$(cd "$inst" && find . -mindepth 1 -path ./var -prune -o -print; ls "$db/info" | grep korvane)
[ -z "$left" ] || fail "dpkg -r left: $left"
echo "deb check: $deb: korvane $version converts as the built one, its manual page renders cleanly, $linted, dpkg -r leaves nothing"
