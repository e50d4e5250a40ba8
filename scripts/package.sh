#!/usr/bin/env bash
# Release packages: builds both architectures and writes
#   build/package/TabletUpdate-<version>-x86.zip
#   build/package/TabletUpdate-<version>-x64.zip
# each holding TabletUpdate.exe and the user's README.txt in one folder. The
# version is the CMake project's (top-level CMakeLists.txt), as in the
# program's version record.
#   scripts/package.sh [--check]
# With --check, the x64 zip is also unpacked and its program run under Wine
# on a machine without a tablet, which must answer with its no-tablet box.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
check=no
[ "${1:-}" = "--check" ] && check=yes

bash "$root/scripts/setup.sh" || exit 1
if [ "$check" = yes ] && [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
out="$root/build/package"
mkdir -p "$out"

for arch in x86 x64; do
    bash "$root/scripts/build.sh" "$arch" >"$root/build/package-build-$arch.log" 2>&1 || {
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

for arch in x86 x64; do
    name="TabletUpdate-$version-$arch"
    stage="$out/stage/$name"
    rm -rf "$out/stage" "$out/$name.zip"
    mkdir -p "$stage"
    cp "$root/build/$arch/app/TabletUpdate.exe" "$stage/"
    [ "$arch" = x86 ] && long="32-bit (x86)" || long="64-bit (x64)"
    # Windows line ends, so that Notepad shows the lines on any Windows.
    sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@ARCH_LONG@/$long/" \
        "$root/packaging/README.txt" | sed 's/$/\r/' >"$stage/README.txt"
    (cd "$out/stage" && cmake -E tar cf "$out/$name.zip" --format=zip "$name")
    rm -rf "$out/stage"
    echo "$out/$name.zip"
done

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
