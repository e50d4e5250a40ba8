#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, as root.
# Does nothing (and needs no network) when everything is already there.
set -euo pipefail

packages=(
    cmake make
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    googletest
    wine wine64 wine32:i386
    xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
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
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
