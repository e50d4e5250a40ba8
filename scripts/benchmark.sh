#!/usr/bin/env bash
# Benchmark (not a test): the whole one-shot update on the simulated tablet
# with the real clock, run several times. For each run it prints the time from
# the first to the last transfer divided by the floor the update imposes
# (256 writes x 10 ms pause + the 300 ms settling wait + the simulated
# latency of every transfer), and the program's peak memory.
#   scripts/benchmark.sh [runs] [latency-ms]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
latency="${2:-0}"

bash "$root/scripts/setup.sh" || exit 1
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true

for arch in x86 x64; do
    bash "$root/scripts/build.sh" "$arch" >/dev/null
    build="$root/build/$arch"
    scenario="$build/benchmark.ini"
    printf '[Bus]\r\nDevices=Tablet\r\nClock=real\r\n[Tablet]\r\nKind=tablet\r\nLatencyMs=%s\r\n' \
        "$latency" >"$scenario"
    for run in $(seq 1 "$runs"); do
        trace="$build/benchmark-trace.txt"
        rm -f "$trace"
        out=$("$build/wine-run.sh" "$build/tools/UiDriver.exe" --timeout-ms 120000 \
            --env "TABLETSIM_SCENARIO=Z:$scenario" --env "TABLETSIM_TRACE=Z:$trace" \
            -- "Z:$build/app/TabletUpdateSim.exe" 2>&1)
        memory=$(printf '%s\n' "$out" | grep -o 'Peak memory: .*' | tr -d '\r')
        awk -v latency="$latency" -v arch="$arch" -v run="$run" -v memory="$memory" '
            $3 == "GetFeature" || $3 == "SetFeature" || $3 == "GetIndexedString" {
                if (n == 0) first = $1
                last = $1
                n++
            }
            END {
                floor = 256 * 10 + 300 + n * latency
                printf "%s run %d: %d transfers, %d ms first to last, floor %d ms, ratio %.4f; %s\n",
                    arch, run, n, last - first, floor, (last - first) / floor, memory
            }' "$trace"
    done
done
