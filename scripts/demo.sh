#!/usr/bin/env bash
# The main job: the shipped TabletUpdate.exe under Wine, updating the virtual
# tablet in Wine's own HID stack (setupapi, hid.dll, hidclass.sys, our bus
# and HID minidriver). Prints the program's windows and its outcome box, the
# tablet's traffic, and whether the tablet's EEPROM now holds the image.
#
#   bash scripts/demo.sh          the product on the virtual tablet
#   bash scripts/demo.sh --sim    TabletUpdateSim.exe on the simulated bus instead
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode=real
case "${1:-}" in
    "") ;;
    --sim) mode=sim ;;
    *) echo "usage: bash scripts/demo.sh [--sim]" >&2; exit 2 ;;
esac

bash "$root/scripts/setup.sh" || exit 1

# Wine needs an X display for its windows; one virtual server serves the run.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

# Wine servers left from an earlier run may hold a display that is gone.
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
WINEPREFIX="$root/build/wineprefix-hid" wineserver -k >/dev/null 2>&1 || true

bash "$root/scripts/build.sh" x64 >/dev/null

build="$root/build/x64"
trace="$build/demo-trace.txt"
rm -f "$trace"

summary() {
    awk '
        $3 == "GetFeature" || $3 == "SetFeature" || $3 == "GetIndexedString" {
            calls[$3]++; if (first == "") first = $1; last = $1
        }
        END {
            printf "Traffic: %d GetFeature, %d SetFeature, %d GetIndexedString; %d ms from first to last request\n",
                calls["GetFeature"], calls["SetFeature"], calls["GetIndexedString"], last - first
        }' "$1"
}

if [ "$mode" = sim ]; then
    echo "== TabletUpdateSim.exe on the simulated USB bus"
    set +e
    "$build/wine-run.sh" "$build/tools/UiDriver.exe" --timeout-ms 60000 \
        --env "TABLETSIM_TRACE=Z:$trace" -- "Z:$build/app/TabletUpdateSim.exe" 2>&1 | tr -d '\r'
    status=${PIPESTATUS[0]}
    set -e
    WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
    if [ -f "$trace" ]; then summary "$trace"; else echo "Traffic: no trace was written"; fi
    exit $status
fi

run="$build/realstack-run.sh"
# Output goes through a file, never a pipe: the persistent Wine server's
# processes inherit the first program's output and never close it, so a
# pipe's reader would wait for ever.
out="$build/demo-output.txt"
vtablet() {
    local status=0
    "$run" "$build/virtualtablet/vtablet.exe" "$@" >"$out" 2>&1 || status=$?
    tr -d '\r' <"$out"
    return $status
}
end_session() { WINEPREFIX="$root/build/wineprefix-hid" wineserver -k >/dev/null 2>&1 || true; }
trap end_session EXIT

echo "== The virtual tablet: an erased EEPROM, plugged into Wine's HID stack"
vtablet unplug >/dev/null 2>&1 || true
vtablet reset
vtablet eeprom-set --fill 0xFF
vtablet plug
echo "== TabletUpdate.exe (the product), driven as a user would"
status=0
"$run" "$build/tools/UiDriver.exe" --timeout-ms 60000 -- "Z:$build/app/TabletUpdate.exe" >"$out" 2>&1 || status=$?
tr -d '\r' <"$out"
vtablet trace > "$trace"
echo "== The tablet's traffic (full trace: $trace)"
grep -v ' Plug \| Unplug ' "$trace" | sed -n 1,3p
echo "   ..."
tail -n 2 "$trace"
summary "$trace"

eeprom="$build/demo-eeprom.bin"
vtablet eeprom-get "Z:$eeprom" >/dev/null
image=$(sed -n '/= {/,/};/p' "$root/dialog/DefaultEepromImage.cpp" | grep -v '^\s*//' | grep -o '0x[0-9A-F]\{2\}' |
        tr 'A-F' 'a-f' | sed 's/^0x//' | tr '\n' ' ')
held=$(od -An -tx1 -v -N 248 "$eeprom" | tr -s ' \n' ' ' | sed 's/^ //')
tail8=$(od -An -tx1 -v -j 248 "$eeprom" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
if [ "$held" = "$image" ]; then
    echo "EEPROM: bytes 0..247 hold the program's image; bytes 248..255 are the tablet's own: $tail8"
else
    echo "EEPROM: does NOT hold the image"
    status=1
fi
exit $status
