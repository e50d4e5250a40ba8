#!/usr/bin/env bash
# The main job: TabletUpdateSim.exe (the real application on a simulated,
# healthy tablet) under Wine; prints the outcome message box and a summary of
# the traffic the tablet saw.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

bash "$root/scripts/setup.sh" || exit 1

# Wine needs an X display for its windows; one virtual server serves the run.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

# A Wine server left from an earlier run may hold a display that is gone.
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true

bash "$root/scripts/build.sh" x64 >/dev/null

build="$root/build/x64"
trace="$build/demo-trace.txt"
rm -f "$trace"

set +e
"$build/wine-run.sh" "$build/tools/UiDriver.exe" --timeout-ms 60000 \
    --env "TABLETSIM_TRACE=Z:$trace" -- "Z:$build/app/TabletUpdateSim.exe" 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
set -e
# End Wine while its display is still there.
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true

if [ -f "$trace" ]; then
    awk '
        { calls[$3]++; if (first == "") first = $1; last = $1 }
        END {
            printf "Traffic: %d GetFeature, %d SetFeature, %d GetIndexedString, %d Open, %d Close; %d ms from first to last call\n",
                calls["GetFeature"], calls["SetFeature"], calls["GetIndexedString"],
                calls["Open"], calls["Close"], last - first
        }' "$trace"
else
    echo "Traffic: no trace was written"
fi
exit $status
