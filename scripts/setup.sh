#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, as root.
# Does nothing (and needs no network) when everything is already there.
#
# A Debian mirror caught in the middle of a sync serves an index of the
# wrong size for a while ("File has unexpected size ... Mirror sync in
# progress?"), and apt-get update then fails. The update is tried again a
# few times with a pause (TABLETUPDATE_APT_ATTEMPTS, default 4;
# TABLETUPDATE_APT_PAUSE_S, default 30). If an index still fails, the
# install is tried all the same (the index may not matter to it); when that
# cannot proceed either, the script names the failing indexes and stops.
# It never reports a part of the packages as an installation.
set -euo pipefail

packages=(
    cmake make
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    googletest
    wine wine64 wine32:i386
    xvfb xauth
    zip osslsigncode openssl
)

not_installed() {
    local p
    for p in "$@"; do
        # dpkg -s also knows packages that were removed but kept their
        # configuration; only "install ok installed" is there.
        [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || echo "$p"
    done
}

mapfile -t missing < <(not_installed "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "Run as root: apt-get must install ${missing[*]}" >&2
    exit 1
fi
# 32-bit Wine comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
attempts="${TABLETUPDATE_APT_ATTEMPTS:-4}"
pause="${TABLETUPDATE_APT_PAUSE_S:-30}"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT

failed_indexes=()
for ((attempt = 1; ; attempt++)); do
    if apt-get update >"$log" 2>&1; then
        failed_indexes=()
        break
    fi
    # apt names each index it could not fetch: "E: Failed to fetch URL ...".
    mapfile -t failed_indexes < <(sed -n 's/.*Failed to fetch \([^ ]*\).*/\1/p' "$log" | sort -u)
    [ ${#failed_indexes[@]} -gt 0 ] || failed_indexes=("(apt-get update failed: $(grep -m1 '^E:' "$log" || tail -n 1 "$log"))")
    if [ "$attempt" -ge "$attempts" ]; then
        echo "apt-get update failed $attempt times; still failing: ${failed_indexes[*]}" >&2
        break
    fi
    echo "apt-get update failed (attempt $attempt of $attempts): ${failed_indexes[*]}; trying again in $pause s" >&2
    sleep "$pause"
done

install_ok=1
apt-get install -y -qq "${missing[@]}" >"$log" 2>&1 || install_ok=0
mapfile -t still < <(not_installed "${missing[@]}")
if [ $install_ok -eq 0 ] || [ ${#still[@]} -gt 0 ]; then
    grep -E '^(E:|W:)| : Depends' "$log" | tail -n 15 >&2 || tail -n 15 "$log" >&2
    if [ ${#failed_indexes[@]} -gt 0 ]; then
        echo "setup: the packages could not be installed, and these package indexes could not be fetched:" >&2
        printf '  %s\n' "${failed_indexes[@]}" >&2
        echo "setup: the Debian mirror is probably in the middle of a sync; run the command again later." >&2
    else
        echo "setup: apt-get could not install: ${still[*]:-${missing[*]}}" >&2
    fi
    [ ${#still[@]} -gt 0 ] && echo "setup: not installed: ${still[*]}" >&2
    exit 1
fi
if [ ${#failed_indexes[@]} -gt 0 ]; then
    echo "setup: installed, although these package indexes could not be fetched: ${failed_indexes[*]}" >&2
fi
