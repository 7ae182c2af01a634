#!/usr/bin/env bash
# Checks what `make release` put in the release folder: the four files of the version and no
# other, their checksums, the package's own check (packaging/check.sh, lintian among it), the
# version in the source archive and in the exes' resources, the HTML manual's title, pictures and
# links, and the zip unpacked into a wine prefix: vek-cli.exe --version and a read from there,
# vek-sample.exe's window opened, read from and closed (tests/win32/wine_session.sh, with the
# Linux build's demo slave on COM1 and the Windows build's vek-driver).
#
#   packaging/check_release.sh <release dir> <version> <Linux build dir> <Windows build dir>
set -euo pipefail

usage="usage: packaging/check_release.sh <release dir> <version> <Linux build dir> <Windows build dir>"
root=$(cd "$(dirname "$0")/.." && pwd)
release=$(cd "${1:?$usage}" && pwd)
version=${2:?$usage}
host=$(cd "${3:?$usage}" && pwd)
windows=$(cd "${4:?$usage}" && pwd)
folder=vek-sample-$version-windows-x64
zip=$folder.zip
deb=vek-sample_${version}_amd64.deb
src=vek-sample-$version.tar.gz
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "release check: $*" >&2
    exit 1
}
cd "$release"

diff -u <(printf '%s\n' SHA256SUMS "$deb" "$src" "$zip" | sort) <(ls | sort) ||
    fail "unexpected files in $release"
diff -u <(printf '%s\n' "$deb" "$src" "$zip" | sort) <(awk '{print $2}' SHA256SUMS | sort) ||
    fail "SHA256SUMS does not list each file once"
sha256sum --quiet -c SHA256SUMS || fail "the checksums do not verify"

"$root/packaging/check.sh" "$deb"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is $(dpkg-deb -f "$deb" Version)"

# The archive is of a commit with this version.
tar -xzf "$src" -C "$tmp" "vek-sample-$version/CMakeLists.txt" || fail "$src holds no CMakeLists.txt"
grep -q "^project(vek-sample VERSION $version " "$tmp/vek-sample-$version/CMakeLists.txt" ||
    fail "$src is not of version $version"

unzip -q "$zip" -d "$tmp/zip"
diff -u <(printf "$folder/%s\n" LICENSE.txt README.txt manual.html vek-cli.exe vek-sample.exe) \
    <(cd "$tmp/zip" && find . ! -type d | sed 's|^\./||' | sort) || fail "unexpected files in $zip"
unpacked=$tmp/zip/$folder
for exe in vek-sample vek-cli; do
    x86_64-w64-mingw32-windres -i "$unpacked/$exe.exe" -O rc -o "$tmp/$exe.rc" 2>/dev/null ||
        fail "$exe.exe has no resources"
    grep -q "VALUE \"ProductVersion\", \"$version\"" "$tmp/$exe.rc" ||
        fail "$exe.exe's version resource: $(grep Version "$tmp/$exe.rc")"
done
grep -q "^VEK Sample program $version " "$unpacked/README.txt" || fail "README.txt is not of $version"

# The manual: one page, the same in the zip and the package, every picture inside it (or beside
# it) and every link to a heading with its heading.
html=$unpacked/manual.html
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vek-sample/manual.html | cmp - "$html" ||
    fail "the manual in $deb differs from the one in $zip"
grep -q "<title>.*, version $version</title>" "$html" || fail "manual.html's title lacks $version"
pictures=0
while read -r source; do
    if [[ $source == data:image/png\;base64,* ]]; then
        base64 -d <<<"${source#*,}" | file -b - | grep -q '^PNG image data' ||
            fail "manual.html: a picture that is no PNG"
    else
        [ -f "$unpacked/$source" ] || fail "manual.html: missing picture $source"
    fi
    pictures=$((pictures + 1))
done < <(grep -o '<img [^>]*src="[^"]*"' "$html" | sed 's/.*src="//; s/"$//')
[ "$pictures" -gt 0 ] || fail "manual.html shows no picture"
while read -r target; do
    case $target in
    \#*) grep -q "id=\"${target#\#}\"" "$html" || fail "manual.html: no heading $target" ;;
    http://* | https://* | mailto:*) ;;
    *) [ -e "$unpacked/${target%%#*}" ] || fail "manual.html: a link to a missing $target" ;;
    esac
done < <(grep -o 'href="[^"]*"' "$html" | sed 's/^href="//; s/"$//' | sort -u)

# The zipped exes on a Windows of wine's, started from the folder unpacked into its C: drive.
# vek-cli's output goes to a file: wine's server keeps a pipe open after the program has ended.
cd "$tmp"
"$root/tests/win32/wine_session.sh" "$host" bash -c '
    set -eu
    unzip -q "$1" -d "$WINEPREFIX/drive_c"
    exe="C:\\$2\\vek-cli.exe"
    wine "$exe" --version >out
    [ "$(tr -d "\r" <out)" = "vek-cli $3" ] || { echo "vek-cli.exe --version: $(cat out)"; exit 1; }
    wine "$exe" read COM1 30002 >out
    [ "$(tr -d "\r" <out)" = " 42" ] || { echo "vek-cli.exe read COM1 30002: $(cat out)"; exit 1; }
    wine "$4" "start C:\\$2\\vek-sample.exe" "click TX1" "wait-idle 2000" \
        "expect-text Rx_data \" 42\"" "close 5000"
' check "$release/$zip" "$folder" "$version" "$windows/vek-driver.exe" ||
    fail "the zipped programs under wine"
echo "release check: passed"
cd "$release" && stat -c '  %n  %s bytes' "$zip" "$deb" "$src" SHA256SUMS
