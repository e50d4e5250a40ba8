#!/usr/bin/env bash
# Every test, for x86 and x64, under Wine (headless, on Xvfb).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

bash "$root/scripts/setup.sh" || exit 1

# Wine names Unix files in the locale's character set; under the C locale
# (a bare system, a service) a Windows name outside ASCII has no Unix name,
# and the tests of folders in other letters could not make theirs. Debian
# always has C.UTF-8.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    echo "== The locale's character set is $(locale charmap 2>/dev/null || echo unknown), not UTF-8: running with LC_ALL=C.UTF-8"
    export LC_ALL=C.UTF-8
fi

# Wine needs an X display for its windows; one virtual server serves the run.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

# Wine servers left from an earlier run may hold a display that is gone.
# The real-stack suite keeps the server of its own prefix (build/wineprefix-hid,
# the virtual tablet's) running for the whole session, as the tablet's state
# lives in its driver host; it is ended here and at the end.
end_servers() {
    WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$root/build/wineprefix-hid" wineserver -k >/dev/null 2>&1 || true
}
end_servers

start=$(date +%s)
mkdir -p "$root/build"
total_passed=0
total_failed=0
total_skipped=0

# The set-up script's own logic, with stand-ins for apt-get and dpkg.
echo "== set-up script"
setup_log="$root/build/setup-test.log"
bash "$root/tests/scripts/setup-test.sh" >"$setup_log" 2>&1 || true
cat "$setup_log"
read -r p f < <(sed -n 's/^setup: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$setup_log")
[ -n "${p:-}" ] || { p=0; f=1; }
total_passed=$((total_passed + p))
total_failed=$((total_failed + f))

for arch in x86 x64; do
    echo "== $arch: build"
    if ! bash "$root/scripts/build.sh" "$arch" >"$root/build/build-$arch.log" 2>&1; then
        tail -n 40 "$root/build/build-$arch.log"
        echo "== $arch: build failed"
        echo "0 passed, 1 failed"
        exit 1
    fi
    # Some hosts run 64-bit user code only (the kernel's IA-32 emulation is
    # off), and there no 32-bit Wine can start. The x86 build is still made
    # and linked above; its suites are counted as skipped, loudly.
    if [ "$arch" = x86 ] && ! wine --version >/dev/null 2>&1; then
        suites=$(ctest --test-dir "$root/build/$arch" -N 2>/dev/null | awk '/Total Tests:/ {print $3}')
        echo "== $arch: tests NOT RUN: this machine cannot start 32-bit programs (32-bit Wine fails to load)"
        total_skipped=$((total_skipped + ${suites:-0}))
        continue
    fi
    echo "== $arch: tests"
    log="$root/build/ctest-$arch.log"
    ctest --test-dir "$root/build/$arch" -V --timeout 900 2>&1 | tee "$log"
    # Each suite is one CTest test; count the GoogleTest cases inside them.
    p=$(grep -oE '\[  PASSED  \] [0-9]+ test' "$log" | awk '{s += $4} END {print s + 0}')
    f=$(grep -oE '\[  FAILED  \] [0-9]+ test' "$log" | awk '{s += $4} END {print s + 0}')
    if ! grep -q '100% tests passed' "$log"; then
        # A suite that crashed or timed out reports no case counts of its own.
        [ "$f" -eq 0 ] && f=1
    fi
    total_passed=$((total_passed + p))
    total_failed=$((total_failed + f))
done

# The release packages: signed and checked against a throwaway CA, their
# checksums, and the same bytes from a clean clone elsewhere.
echo "== release packages"
package_log="$root/build/package-test.log"
bash "$root/tests/scripts/package-test.sh" 2>&1 | tee "$package_log"
read -r p f < <(sed -n 's/^package: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$package_log")
[ -n "${p:-}" ] || { p=0; f=1; }
total_passed=$((total_passed + p))
total_failed=$((total_failed + f))

# End Wine while its display is still there.
end_servers

echo "Wall time: $(( $(date +%s) - start )) s"
if [ "$total_skipped" -gt 0 ]; then
    echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
else
    echo "$total_passed passed, $total_failed failed"
fi
[ "$total_failed" -eq 0 ]
