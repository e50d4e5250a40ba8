#!/usr/bin/env bash
# Benchmark (not a test): the whole one-shot update on the simulated tablet
# with the real clock, progress window and all, run several times at each
# write delay. For each run it prints the time from the first to the last
# transfer divided by the floor the update imposes (256 writes x the delay +
# the 300 ms settling wait + the simulated latency of every transfer), whether
# the progress window's line was seen, and the program's peak memory.
# Measure on an otherwise idle machine: a busy one stretches the pauses.
#   scripts/benchmark.sh [runs] [latency-ms] [delays...]    (delays: 10 20)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-5}"
latency="${2:-0}"
shift $(( $# > 2 ? 2 : $# ))
delays=("$@")
[ ${#delays[@]} -eq 0 ] && delays=(10 20)

bash "$root/scripts/setup.sh" || exit 1
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$runs" "$latency" "${delays[@]}"
fi
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true

for arch in x86 x64; do
    bash "$root/scripts/build.sh" "$arch" >/dev/null
    # As in scripts/test.sh: some hosts cannot start 32-bit programs at all.
    if [ "$arch" = x86 ] && ! wine --version >/dev/null 2>&1; then
        echo "x86: NOT MEASURED: this machine cannot start 32-bit programs (32-bit Wine fails to load)"
        continue
    fi
    build="$root/build/$arch"
    scenario="$build/benchmark.ini"
    printf '[Bus]\r\nDevices=Tablet\r\nClock=real\r\n[Tablet]\r\nKind=tablet\r\nLatencyMs=%s\r\n' \
        "$latency" >"$scenario"
    for delay in "${delays[@]}"; do
        for run in $(seq 1 "$runs"); do
            trace="$build/benchmark-trace.txt"
            rm -f "$trace"
            out=$("$build/wine-run.sh" "$build/tools/UiDriver.exe" --timeout-ms 120000 \
                --env "TABLETSIM_SCENARIO=Z:$scenario" --env "TABLETSIM_TRACE=Z:$trace" \
                --env "TABLETSIM_WRITE_DELAY_MS=$delay" \
                -- "Z:$build/app/TabletUpdateSim.exe" 2>&1)
            memory=$(printf '%s\n' "$out" | grep -o 'Peak memory: .*' | tr -d '\r')
            shown=no
            printf '%s\n' "$out" | grep -q 'text="Updating the tablet. Do not unplug it."' && shown=yes
            awk -v latency="$latency" -v delay="$delay" -v arch="$arch" -v run="$run" \
                -v memory="$memory" -v shown="$shown" '
                $3 == "GetFeature" || $3 == "SetFeature" || $3 == "GetIndexedString" {
                    if (n == 0) first = $1
                    last = $1
                    n++
                }
                END {
                    floor = 256 * delay + 300 + n * latency
                    printf "%s delay %d ms run %d: %d transfers, %d ms first to last, floor %d ms, ratio %.4f; progress window %s; %s\n",
                        arch, delay, run, n, last - first, floor, (last - first) / floor, shown, memory
                }' "$trace"
        done
    done
done
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
