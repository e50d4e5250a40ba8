#!/usr/bin/env bash
# Runs a command of this project on a fresh Debian system of a given release,
# as a new user there would meet it, as root:
#
#   bash scripts/debian.sh 13 'bash scripts/test.sh'
#   bash scripts/debian.sh 13 --keep 'bash scripts/demo.sh'   keep the system afterwards
#   bash scripts/debian.sh --in DIR 'COMMAND'                  run again in a kept system
#
# The bare minbase system is made with debootstrap from this machine's own
# Debian mirror and cached outside the clone (TABLETUPDATE_DEBIAN_CACHE,
# default /var/cache/tabletupdate/debian); it is made again when it is older
# than a week or no longer starts. Each run works on a fresh copy of it, with
# this work tree's files (tracked and untracked, not ignored: what a clone
# would hold, plus work in progress) at /root/TabletUpdate, so the README's
# own set-up installs every package every time.
#
# The run has its own mount and process namespaces: /proc, /sys and /dev are
# bound only there, and every process the command leaves behind (Wine
# servers, Xvfb) ends with it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

usage() {
    echo "usage: bash scripts/debian.sh 12|13 [--keep] 'COMMAND'" >&2
    echo "       bash scripts/debian.sh --in DIR 'COMMAND'" >&2
    exit 2
}

keep=0
system=""
version=""
if [ "${1:-}" = "--in" ]; then
    [ $# -eq 3 ] || usage
    system="$2"
    [ -x "$system/bin/bash" ] || { echo "debian.sh: $system holds no system" >&2; exit 2; }
    shift 2
else
    version="${1:-}"
    shift || true
    if [ "${1:-}" = "--keep" ]; then
        keep=1
        shift
    fi
    [ $# -eq 1 ] || usage
fi
command="$1"

if [ "$(id -u)" -ne 0 ]; then
    echo "debian.sh: run as root (debootstrap, chroot and mounts need it)" >&2
    exit 1
fi

# The URI of one suite of this machine's own sources (deb822 or one-line
# form); the first match wins.
host_uri() {
    local pattern="$1"
    cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk -v p="$pattern" '
        /^URIs:/ { for (i = 2; i <= NF; i++) if ($i ~ p) { print $i; exit } }'
    grep -hsE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
        awk -v p="$pattern" '{ for (i = 2; i <= NF; i++) if ($i ~ p) { print $i; exit } }' || true
}

make_base() {
    local codename="$1" base="$2" mirror="$3"
    if ! command -v debootstrap >/dev/null 2>&1; then
        echo "== Installing debootstrap"
        apt-get update -qq || echo "debian.sh: apt-get update reported errors; trying the install anyway" >&2
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    fi
    echo "== Making a Debian $codename minbase system from $mirror (cached in $base)"
    rm -rf --one-file-system "$base.new"
    if ! debootstrap --variant=minbase "$codename" "$base.new" "$mirror" >"$base.log" 2>&1; then
        tail -n 20 "$base.log" >&2
        echo "debian.sh: debootstrap failed (log: $base.log); if the mirror is mid-sync, run again later" >&2
        rm -rf --one-file-system "$base.new"
        exit 1
    fi
    date +%s >"$base.new/.tabletupdate-base"
    rm -rf --one-file-system "$base"
    mv "$base.new" "$base"
}

base_is_fresh() {
    local base="$1" made
    [ -f "$base/.tabletupdate-base" ] || return 1
    made=$(cat "$base/.tabletupdate-base")
    [ $(( $(date +%s) - made )) -lt $((7 * 24 * 3600)) ] || return 1
    chroot "$base" /usr/bin/apt-get --version >/dev/null 2>&1
}

# A bound file system left under a folder about to be removed would take
# the host's files with it: never remove one that still has a mount inside.
remove_system() {
    local dir="$1"
    if findmnt -rn -o TARGET | grep -q "^$dir/"; then
        echo "debian.sh: $dir still has mounts inside; left in place" >&2
        return 1
    fi
    rm -rf --one-file-system "$dir"
}

if [ -z "$system" ]; then
    case "$version" in
        12) codename=bookworm ;;
        13) codename=trixie ;;
        *) usage ;;
    esac
    mirror="$(host_uri '/debian/?$' | head -n 1)"
    security="$(host_uri 'debian-security' | head -n 1)"
    mirror="${mirror:-http://deb.debian.org/debian}"
    security="${security:-${mirror%/debian*}/debian-security}"

    cache="${TABLETUPDATE_DEBIAN_CACHE:-/var/cache/tabletupdate/debian}"
    mkdir -p "$cache"
    base="$cache/$codename"
    # One run at a time makes or checks the cached base.
    exec 9>"$cache/.lock"
    flock 9
    if ! base_is_fresh "$base"; then
        make_base "$codename" "$base" "$mirror"
    fi

    system="$(mktemp -d "${TMPDIR:-/var/tmp}/tabletupdate-debian$version.XXXXXX")"
    cp -a "$base/." "$system/"
    flock -u 9
    exec 9>&-

    # The sources a fresh installation of that release has: its main suite,
    # its updates and its security suite.
    rm -f "$system/etc/apt/sources.list"
    cat >"$system/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    cp /etc/resolv.conf "$system/etc/resolv.conf" 2>/dev/null || true

    mkdir -p "$system/root/TabletUpdate"
    if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        (cd "$root" && git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
            tar --null -T - -cf -) | tar -xf - -C "$system/root/TabletUpdate"
    else
        tar -C "$root" --exclude=./build -cf - . | tar -xf - -C "$system/root/TabletUpdate"
    fi
fi

echo "== Debian $(cat "$system/etc/debian_version") in $system: $command"
status=0
unshare --mount --pid --fork --propagation private -- bash -c '
    set -e
    dir="$1"
    mount -t proc proc "$dir/proc"
    mount --rbind /sys "$dir/sys"
    mount --rbind /dev "$dir/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$dir/dev/shm"
    # This shell stays the first process of the namespace and waits: a
    # command that became process 1 would live by the signal rules of init
    # (xvfb-run, waiting there for the "ready" signal of its X server,
    # waited for ever).
    code=0
    chroot "$dir" /usr/bin/env -i HOME=/root TERM=dumb CI="${CI:-}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "cd /root/TabletUpdate && $2" || code=$?
    exit $code
' _ "$system" "$command" || status=$?

if [ $keep -eq 1 ]; then
    echo "== Kept: $system (run again there with: bash scripts/debian.sh --in $system 'COMMAND')"
elif [ -n "$version" ]; then
    remove_system "$system" || true
fi
exit $status
