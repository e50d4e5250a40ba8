#!/usr/bin/env bash
# Release packages: builds both architectures' TabletUpdate.exe and writes
#   build/package/TabletUpdate-<version>-x86.zip
#   build/package/TabletUpdate-<version>-x64.zip
#   build/package/SHA256SUMS          (sha256sum's lines for the two zips)
# each zip holding TabletUpdate.exe and the user's README.txt in one folder.
# The version is the CMake project's (top-level CMakeLists.txt), as in the
# program's version record.
#   scripts/package.sh [--check]
# With --check, the x64 zip is also unpacked and its program run under Wine
# on a machine without a tablet, which must answer with its no-tablet box.
#
# Signing: with TABLETUPDATE_SIGN_PKCS12 naming a PKCS#12 file (the code
# signing certificate, its chain and its key) and TABLETUPDATE_SIGN_PASSWORD
# holding that file's password, both executables are signed with
# Authenticode (SHA-256) by osslsigncode before they are zipped.
# TABLETUPDATE_SIGN_TIMESTAMP_URL, when set, names an RFC 3161 timestamp
# server, whose countersignature keeps the signature valid after the
# certificate expires.
#
# The same commit gives the same zips, byte for byte, on any machine: the
# build leaves out link times and build folders, the zip entries carry the
# commit's time (SOURCE_DATE_EPOCH when set, else git's commit date), fixed
# permissions and no owner, in a fixed order, and a signature made with the
# same certificate carries the commit's time as its signing time. A
# timestamp server's countersignature is the one part that differs per run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
check=no
[ "${1:-}" = "--check" ] && check=yes

bash "$root/scripts/setup.sh" || exit 1
if [ "$check" = yes ] && [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    epoch="$SOURCE_DATE_EPOCH"
elif ! epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || [ -z "$epoch" ]; then
    echo "package: not a git checkout: set SOURCE_DATE_EPOCH to the sources' date (seconds since 1970)" >&2
    exit 1
fi

sign=no
if [ -n "${TABLETUPDATE_SIGN_PKCS12:-}" ]; then
    if [ ! -r "$TABLETUPDATE_SIGN_PKCS12" ]; then
        echo "package: cannot read the certificate TABLETUPDATE_SIGN_PKCS12=$TABLETUPDATE_SIGN_PKCS12" >&2
        exit 1
    fi
    [ -n "${TABLETUPDATE_SIGN_PASSWORD+set}" ] || {
        echo "package: TABLETUPDATE_SIGN_PASSWORD is not set (the certificate file's password)" >&2
        exit 1
    }
    sign=yes
    # Kept in this shell alone: no build, compiler or Wine child started
    # below inherits the password in its environment.
    sign_password="$TABLETUPDATE_SIGN_PASSWORD"
    unset TABLETUPDATE_SIGN_PASSWORD
fi

out="$root/build/package"
mkdir -p "$out"

for arch in x86 x64; do
    bash "$root/scripts/build.sh" "$arch" TabletUpdate >"$root/build/package-build-$arch.log" 2>&1 || {
        tail -n 40 "$root/build/package-build-$arch.log"
        echo "package: the $arch build failed" >&2
        exit 1
    }
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/x64/CMakeCache.txt")
if [ -z "$version" ]; then
    echo "package: no project version in build/x64/CMakeCache.txt" >&2
    exit 1
fi

# Signs $1 in place.
sign_exe() {
    local exe="$1" signed="$1.signed"
    local args=(sign -pkcs12 "$TABLETUPDATE_SIGN_PKCS12" -h sha256 -time "$epoch"
                -n "TabletUpdate $version" -in "$exe" -out "$signed")
    [ -n "${TABLETUPDATE_SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$TABLETUPDATE_SIGN_TIMESTAMP_URL")
    # The password through a pipe, never on a command line that ps shows.
    if ! osslsigncode "${args[@]}" -readpass <(printf '%s' "$sign_password") >"$out/sign.log" 2>&1; then
        cat "$out/sign.log" >&2
        echo "package: signing $exe failed" >&2
        exit 1
    fi
    rm -f "$out/sign.log"
    mv "$signed" "$exe"
}

rm -f "$out/SHA256SUMS"
zips=()
for arch in x86 x64; do
    name="TabletUpdate-$version-$arch"
    stage="$out/stage"
    rm -rf "$stage" "$out/$name.zip"
    mkdir -p "$stage/$name"
    cp "$root/build/$arch/app/TabletUpdate.exe" "$stage/$name/"
    if [ "$sign" = yes ]; then
        sign_exe "$stage/$name/TabletUpdate.exe"
    fi
    [ "$arch" = x86 ] && long="32-bit (x86)" || long="64-bit (x64)"
    # Windows line ends, so that Notepad shows the lines on any Windows.
    sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@ARCH_LONG@/$long/" \
        "$root/packaging/README.txt" | sed 's/$/\r/' >"$stage/$name/README.txt"
    # Whatever this machine's umask, clock and time zone: the same
    # permissions and times in every zip, DOS times written as UTC, no
    # owner fields (-X), the entries named in one order.
    chmod 755 "$stage/$name"
    chmod 644 "$stage/$name/README.txt" "$stage/$name/TabletUpdate.exe"
    TZ=UTC touch -d "@$epoch" "$stage/$name" "$stage/$name/README.txt" "$stage/$name/TabletUpdate.exe"
    (cd "$stage" && TZ=UTC zip -q -X "$out/$name.zip" "$name/" "$name/README.txt" "$name/TabletUpdate.exe")
    rm -rf "$stage"
    zips+=("$name.zip")
    echo "$out/$name.zip"
done
(cd "$out" && sha256sum "${zips[@]}" >SHA256SUMS)
echo "$out/SHA256SUMS"

[ "$check" = yes ] || exit 0

# Unpacked elsewhere, the program must start on its own and, with no tablet
# (Wine has none), say so.
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
status=0
for arch in x86 x64; do
    if [ "$arch" = x86 ] && ! wine --version >/dev/null 2>&1; then
        echo "check $arch: NOT RUN: this machine cannot start 32-bit programs"
        continue
    fi
    # The UI driver of the same build runs the check (this run may have
    # built only the product).
    cmake --build "$root/build/$arch" --target UiDriver >/dev/null
    unpacked=$(mktemp -d)
    (cd "$unpacked" && cmake -E tar xf "$out/TabletUpdate-$version-$arch.zip")
    exe="$unpacked/TabletUpdate-$version-$arch/TabletUpdate.exe"
    report=$("$root/build/$arch/wine-run.sh" "$root/build/$arch/tools/UiDriver.exe" --timeout-ms 60000 \
        -- "Z:$exe" 2>/dev/null | tr -d '\r') || true
    rm -rf "$unpacked"
    echo "check $arch: $report" | head -n 1
    if ! printf '%s\n' "$report" | grep -q 'MessageBox caption="TabletUpdate" icon=stop text="Please plug in the tablet'; then
        echo "check $arch: FAILED" >&2
        status=1
    fi
done
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
exit $status
