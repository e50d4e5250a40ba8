#!/usr/bin/env bash
# The set-up script's own logic, without the network: apt-get, dpkg,
# dpkg-query and id are stand-ins on PATH that play a mirror in the middle
# of a sync (an index that fails to download for a while, or for good) and
# an install that works, fails or leaves packages out.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
state="$SETUP_TEST_STATE"
echo "apt-get $*" >>"$state/calls"
case "$1" in
update)
    left=$(cat "$state/update-fails")
    if [ "$left" = always ] || [ "$left" -gt 0 ]; then
        [ "$left" = always ] || echo $((left - 1)) >"$state/update-fails"
        echo "E: Failed to fetch http://mirror.test/debian-security/dists/s/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 127.0.0.1 80]"
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 100
    fi
    exit 0 ;;
install)
    shift
    pkgs=()
    for a in "$@"; do case "$a" in -*) ;; *) pkgs+=("$a") ;; esac; done
    case "$(cat "$state/install")" in
    ok) printf '%s\n' "${pkgs[@]}" >>"$state/installed"; exit 0 ;;
    partial) printf '%s\n' "${pkgs[@]:1}" >>"$state/installed"; exit 0 ;;
    *) echo " wine32:i386 : Depends: libc6:i386 but it is not going to be installed"
       echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
    esac ;;
esac
exit 1
EOF
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
# dpkg-query -W -f='${Status}' PACKAGE
grep -qxF -- "${!#}" "$SETUP_TEST_STATE/installed" || exit 1
printf 'install ok installed'
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case "$1" in
--print-foreign-architectures) cat "$SETUP_TEST_STATE/arches" ;;
--add-architecture) echo "$2" >>"$SETUP_TEST_STATE/arches" ;;
esac
EOF
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*

passed=0
failed=0
# run NAME UPDATE_FAILS INSTALL PREINSTALLED EXPECTED_STATUS PATTERN...
# Each PATTERN must appear in the script's output; "!PATTERN" must not.
run() {
    local name="$1" fails="$2" install="$3" pre="$4" expected="$5"
    shift 5
    local state="$work/$name" status=0 out problems=()
    mkdir -p "$state"
    echo "$fails" >"$state/update-fails"
    echo "$install" >"$state/install"
    : >"$state/arches"
    : >"$state/calls"
    if [ "$pre" = all ]; then
        bash -c 'source <(sed -n "/^packages=(/,/^)/p" "$1"); printf "%s\n" "${packages[@]}"' _ \
            "$root/scripts/setup.sh" >"$state/installed"
    else
        : >"$state/installed"
    fi
    out=$(PATH="$work/bin:$PATH" SETUP_TEST_STATE="$state" TABLETUPDATE_APT_ATTEMPTS=3 \
          TABLETUPDATE_APT_PAUSE_S=0 bash "$root/scripts/setup.sh" 2>&1) || status=$?
    [ "$status" -eq "$expected" ] || problems+=("exit status $status, expected $expected")
    local p
    for p in "$@"; do
        case "$p" in
        !*) ! grep -qF -- "${p#!}" <<<"$out$(cat "$state/calls")" || problems+=("unexpected: ${p#!}") ;;
        *) grep -qF -- "$p" <<<"$out$(cat "$state/calls")" || problems+=("missing: $p") ;;
        esac
    done
    if [ ${#problems[@]} -eq 0 ]; then
        echo "[       OK ] setup: $name"
        passed=$((passed + 1))
    else
        echo "[  FAILED  ] setup: $name"
        printf '    %s\n' "${problems[@]}"
        echo "$out" | sed 's/^/    | /'
        failed=$((failed + 1))
    fi
}

run nothing-missing 0 ok all 0 '!apt-get'
run update-recovers 2 ok none 0 \
    'attempt 1 of 3' 'attempt 2 of 3' 'apt-get install' '!could not be fetched' '!attempt 3'
run index-fails-install-fails always fail none 1 \
    'apt-get update failed 3 times' \
    'http://mirror.test/debian-security/dists/s/main/binary-i386/Packages.xz' \
    'run the command again later' 'held broken packages'
run index-fails-install-works always ok none 0 \
    'installed, although these package indexes could not be fetched: http://mirror.test/'
run install-leaves-packages-out 0 partial none 1 'not installed: cmake'
run install-fails-with-good-indexes 0 fail none 1 'apt-get could not install' '!run the command again later'
run i386-added-once 0 ok none 0 'Installing: cmake'
grep -qx i386 "$work/i386-added-once/arches" || {
    echo "[  FAILED  ] setup: i386-added-once (the i386 architecture was not added)"
    passed=$((passed - 1)); failed=$((failed + 1))
}

echo "setup: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
