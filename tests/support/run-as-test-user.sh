#!/bin/sh
# Runs one test program under Wine as an ordinary user:
#   run-as-test-user.sh <wine-run.sh> <program.exe> [arguments...]
#
# For the cases that need what root is exempt from. Wine keeps a file's
# read-only attribute as its Unix mode, and root may write into a file
# whatever its mode says, so run as root a read-only file takes writes that
# Windows refuses.
#
# Run as root, the program runs as the system user "tabletupdate-test"
# (made when missing), with a Wine prefix of its own in that user's home:
# Wine refuses a prefix that another user owns. The program and the runner
# are copied to a folder that user can read, since the build folder may lie
# in root's home. Run by anyone else, the program runs as that user in the
# build's own prefix. Either way TABLETUPDATE_READONLY_BINDS tells the
# program that this run is meant to be one where read-only binds.
set -eu
runner="$1"
program="$2"
shift 2

if [ "$(id -u)" -ne 0 ]; then
    TABLETUPDATE_READONLY_BINDS=1 exec "$runner" "$program" "$@"
fi

user=tabletupdate-test
if ! id -u "$user" >/dev/null 2>&1; then
    useradd --system --create-home --home-dir "/var/lib/$user" --shell /usr/sbin/nologin "$user"
fi
home="$(getent passwd "$user" | cut -d: -f6)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
name="$(basename "$program")"
cp "$runner" "$work/wine-run.sh"
cp "$program" "$work/$name"
chmod 755 "$work" "$work/wine-run.sh"
chmod 644 "$work/$name"

# A clean environment: the caller's X display belongs to root (its authority
# file is root's alone), so without DISPLAY the runner starts one of its own.
status=0
runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" \
    PATH=/usr/local/bin:/usr/bin:/bin \
    TABLETUPDATE_WINEPREFIX="$home/wineprefix" TABLETUPDATE_READONLY_BINDS=1 \
    sh "$work/wine-run.sh" "$work/$name" "$@" || status=$?
exit "$status"
