#!/usr/bin/env bash
# Benchmark (not a test) of the one-shot update.
#
#   scripts/benchmark.sh [runs]                     the product on the virtual tablet (default)
#   scripts/benchmark.sh --sim [runs] [latency-ms] [delays...]
#                                                   TabletUpdateSim.exe on the simulated bus
#
# Real stack: the shipped TabletUpdate.exe updates the virtual tablet in
# Wine's HID stack, and in the same session a bare loop (vtablet
# bare-update) makes the same 770 transfers through hid.dll with no pause.
# Each run prints the program's first-to-last-transfer time (from the
# tablet's trace), the floor = 256 x delay + 300 ms + the bare loop's time,
# their ratio (goal <= 1.02), and the program's peak memory; then where the
# time went, phase by phase, beside the bare loop's own phases, and every
# stall: a wait of over 2 ms between two transfers beyond the write pauses
# and the settling wait (the trace counts whole milliseconds). The bare loop
# also runs paced (vtablet bare-update --delay-ms: the program's pauses and
# settling wait, nothing else), and the program's time over that loop's is
# what the program itself adds, wherever the stack is slower after a pause.
# The one-shot update's write delay is fixed at 10 ms. Each run then also
# drives the product's service station (StationSetAll.exe: WriteDely (ms)
# typed, Set All clicked) at 10 and 20 ms and prints the writes' span from
# the first to the last, its floor = 255 pauses + the bare loop's 256 writes,
# their ratio, the same over the paced loop's writes, and the shortest pause
# seen between two writes. Last in each run, the station burns a tablet on
# arrival (StationSetAll.exe --auto-burn), once with its record off and once
# on (--record): the station writes the burn's line between the
# verification's last read and the dump's first, so the tablet's trace
# times it inside the real program on the real stack, the tablet's texts the
# line asks for (firmware, serial number) and the file's append and flush
# apart; the end prints the medians and what a line adds to a burn (goal < 5
# ms). The record is kept in build/<arch>/benchmark-record.csv.
#
# --sim: the whole one-shot update on the simulated tablet with the real
# clock, at each write delay; the floor is 256 writes x the delay + the 300 ms
# settling wait + the simulated latency of every transfer.
# Measure on an otherwise idle machine: a busy one stretches the pauses. On a
# virtual machine, look at the steal time too (vmstat's "st"): a host that
# takes the cores away stretches the bare loop and the program alike, but not
# by the same amount from one run to the next.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode=real
if [ "${1:-}" = --sim ]; then
    mode=sim
    shift
fi
runs="${1:-5}"
latency="${2:-0}"
shift $(( $# > 2 ? 2 : $# ))
delays=("$@")
[ ${#delays[@]} -eq 0 ] && delays=(10 20)

bash "$root/scripts/setup.sh" || exit 1
if [ -z "${DISPLAY:-}" ]; then
    if [ "$mode" = sim ]; then
        exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --sim "$runs" "$latency" "${delays[@]}"
    fi
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$runs"
fi
WINEPREFIX="$root/build/wineprefix" wineserver -k >/dev/null 2>&1 || true
WINEPREFIX="$root/build/wineprefix-hid" wineserver -k >/dev/null 2>&1 || true

if [ "$mode" = real ]; then
    trap 'WINEPREFIX="$root/build/wineprefix-hid" wineserver -k >/dev/null 2>&1 || true' EXIT
    for arch in x86 x64; do
        bash "$root/scripts/build.sh" "$arch" >/dev/null
        if [ "$arch" = x86 ] && ! wine --version >/dev/null 2>&1; then
            echo "x86: NOT MEASURED: this machine cannot start 32-bit programs (32-bit Wine fails to load)"
            continue
        fi
        build="$root/build/$arch"
        run="$build/realstack-run.sh"
        # Through a file, never a pipe: the persistent server's processes
        # inherit the first program's output and never close it.
        out="$build/benchmark-output.txt"
        vtablet() { "$run" "$build/virtualtablet/vtablet.exe" "$@" >"$out" 2>&1; local s=$?; tr -d '\r' <"$out"; return $s; }
        trace="$build/benchmark-trace.txt"
        # A fresh tablet, all 0xFF, with an empty trace.
        fresh_tablet() {
            vtablet unplug >/dev/null 2>&1 || true
            vtablet reset >/dev/null
            vtablet eeprom-set --fill 0xFF >/dev/null
            vtablet plug >/dev/null
        }
        # The bare loop, unpaced (no argument) or paced at a delay, and its
        # phases from the tablet's trace: "total read writes read-back" in ms.
        bare_loop() {
            fresh_tablet
            local total
            total=$(vtablet bare-update ${1:+--delay-ms "$1"} | grep -o '[0-9.]* ms' | cut -d' ' -f1)
            vtablet trace | awk -v total="$total" '
                $3 == "GetFeature" { if (++r == 1) r1 = $1; if (r == 256) r256 = $1; if (r == 257) v1 = $1; vlast = $1 }
                $3 == "SetFeature" { if (!w++) w1 = $1; wlast = $1 }
                END { print total, r256 - r1, wlast - w1, vlast - v1 }'
        }
        # The record's cost: one burn on arrival with the record off or on
        # ($1); prints the gap from the verification's last read to the
        # dump's first, and with the record on its two parts: up to the
        # serial number's answer (the line's fields, the tablet's texts) and
        # from there (the file's append and flush).
        burn_file="$build/benchmark-burn.tqc"
        { printf '[EEPROM DATA]\r\n'
          for address in $(seq 0 255); do printf 'Value%03d=%d\r\n' "$address" $(( (address * 3 + 1) & 255 )); done
        } >"$burn_file"
        record="$build/benchmark-record.csv"
        rm -f "$record"
        windows_path() { local path="Z:$1"; echo "${path//\//\\}"; }
        station_out="$build/benchmark-station.txt"
        station_burn() {
            vtablet unplug >/dev/null 2>&1 || true
            vtablet reset >/dev/null
            vtablet eeprom-set --fill 0xFF >/dev/null
            vtablet serial TB-0042-0007 >/dev/null
            local options=(--delay-ms 10 --auto-burn "$(windows_path "$burn_file")")
            [ "$1" = on ] && options+=(--record "$(windows_path "$record")")
            : >"$station_out"
            "$run" "$build/tools/StationSetAll.exe" "${options[@]}" -- \
                "Z:$build/app/TabletUpdate.exe" /service >"$station_out" 2>&1 &
            local station=$!
            for _ in $(seq 1 300); do
                grep -q 'Auto Burn armed' "$station_out" && break
                sleep 0.1
            done
            vtablet plug >/dev/null
            wait "$station" || true
            vtablet trace | awk '
                $3 == "SetFeature" { reads = 0; serial = "" }
                $3 == "GetFeature" { if (++reads == 256) verified = $1; if (reads == 257) dump = $1 }
                $3 == "GetSerialNumberString" && reads == 256 { serial = $1 }
                END { print dump - verified, serial == "" ? "-" : serial - verified, serial == "" ? "-" : dump - serial }'
        }
        record_gaps=()
        plain_gaps=()
        text_parts=()
        file_parts=()
        for i in $(seq 1 "$runs"); do
            # What the program's phases cost beyond the unpaced loop's is
            # partly the program's own (in the read passes, which have no
            # pauses to hide it in, the progress display's share) and partly
            # the stack's, answering after a pause; the paced loop, which
            # waits as the program does, tells the two apart.
            read -r bare bare_read bare_writes bare_back < <(bare_loop)
            read -r paced paced_read paced_writes paced_back < <(bare_loop 10)
            fresh_tablet
            "$run" "$build/tools/UiDriver.exe" --timeout-ms 120000 -- "Z:$build/app/TabletUpdate.exe" >"$out" 2>&1 || true
            memory=$(grep -o 'Peak memory: .*' "$out" | tr -d '\r')
            box=$(grep -c 'has been updated,' "$out" || true)
            vtablet trace > "$trace"
            awk -v delay=10 -v arch="$arch" -v run="$i" -v bare="$bare" -v memory="$memory" -v box="$box" \
                -v bare_read="$bare_read" -v bare_writes="$bare_writes" -v bare_back="$bare_back" \
                -v paced="$paced" -v paced_read="$paced_read" -v paced_writes="$paced_writes" -v paced_back="$paced_back" '
                $3 == "GetFeature" || $3 == "SetFeature" || $3 == "GetIndexedString" {
                    # A wait between two transfers, beyond the pause after a
                    # write and apart from the settling wait, is the program
                    # doing something else with the tablet in mid-update.
                    if (n > 0) {
                        extra = $1 - last - (kind == "SetFeature" ? delay : 0)
                        settling = kind == "SetFeature" && $3 == "GetFeature"
                        if (!settling && extra > 2)
                            stalls = stalls sprintf(" #%d %s %+d", n + 1, $3, extra)
                    }
                    if (n == 0) first = $1
                    last = $1
                    kind = $3
                    n++
                }
                $3 == "GetFeature" { reads++; if (reads == 1) r1 = $1; if (reads == 256) r256 = $1
                                      if (reads == 257) v1 = $1; vlast = $1 }
                $3 == "SetFeature" { writes++; if (writes == 1) w1 = $1; wlast = $1 }
                END {
                    floor = 256 * delay + 300 + bare
                    printf "%s real stack, delay %d ms, run %d: %d transfers, %d ms first to last, bare loop %.1f ms, floor %.1f ms, ratio %.4f; paced bare loop %.1f ms, ratio to it %.4f; success box %s; %s\n",
                        arch, delay, run, n, last - first, bare, floor, (last - first) / floor, paced, (last - first) / paced, box == 1 ? "yes" : "NO", memory
                    # Where the time goes, by the tablet trace clock: the first
                    # reading, the writes with their pauses (over 255 pauses of
                    # the delay), the settling before the read-back, the read-back.
                    printf "    phases: read %d ms (bare %d, paced %d), writes %d ms (%+d over the pauses; bare %d, paced %d), settle %d ms (%+d over 300 + a pause), read-back %d ms (bare %d, paced %d)\n",
                        r256 - r1, bare_read, paced_read, wlast - w1, (wlast - w1) - 255 * delay, bare_writes, paced_writes,
                        v1 - wlast, (v1 - wlast) - 300 - delay, vlast - v1, bare_back, paced_back
                    printf "    stalls over 2 ms between transfers (transfer, request, ms):%s\n", stalls == "" ? " none" : stalls
                }' "$trace"
            for delay in 10 20; do
                if [ "$delay" = 10 ]; then
                    station_paced=$paced_writes
                else
                    read -r _ _ station_paced _ < <(bare_loop "$delay")
                fi
                fresh_tablet
                "$run" "$build/tools/StationSetAll.exe" --delay-ms "$delay" -- \
                    "Z:$build/app/TabletUpdate.exe" /service >"$out" 2>&1 || true
                seen=$(grep -o 'Set All at .*' "$out" | tr -d '\r' || true)
                [ -n "$seen" ] || seen="Set All NOT RUN: $(tail -n 1 "$out" | tr -d '\r')"
                vtablet trace > "$trace"
                awk -v delay="$delay" -v arch="$arch" -v run="$i" -v bare="$bare_writes" -v paced="$station_paced" -v seen="$seen" '
                    $3 == "SetFeature" {
                        if (n > 0 && (gap == "" || $1 - last < gap)) gap = $1 - last
                        if (n == 0) first = $1
                        last = $1
                        n++
                    }
                    END {
                        floor = 255 * delay + bare
                        printf "%s station Set All, delay %d ms, run %d: %d writes, %d ms first to last, floor %d ms, ratio %.4f; paced bare writes %d ms, ratio to them %.4f; shortest pause %d ms; %s\n",
                            arch, delay, run, n, last - first, floor, (last - first) / floor, paced, (last - first) / paced, gap, seen
                    }' "$trace"
            done
            for state in off on; do
                read -r gap texts append < <(station_burn "$state")
                seen=$(grep -o 'Auto burn: .*' "$station_out" | tr -d '\r' || true)
                [ -n "$seen" ] || seen="NO BURN: $(tail -n 1 "$station_out" | tr -d '\r')"
                if [ "$state" = on ]; then
                    record_gaps+=("$gap")
                    text_parts+=("$texts")
                    file_parts+=("$append")
                    echo "$arch station auto-burn, record on, run $i: $gap ms from the verification's last read to the dump's first (the line's fields and the tablet's texts $texts ms, the file's append and flush $append ms); $seen"
                else
                    plain_gaps+=("$gap")
                    echo "$arch station auto-burn, record off, run $i: $gap ms from the verification's last read to the dump's first; $seen"
                fi
            done
        done
        median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
        on=$(median "${record_gaps[@]}")
        off=$(median "${plain_gaps[@]}")
        echo "$arch record: a line adds $(awk -v on="$on" -v off="$off" 'BEGIN { print on - off }') ms to a burn (goal < 5 ms): median over $runs burns of the verification's last read to the dump's first, $on ms with the record on, $off ms off; of it the line's fields and the tablet's texts $(median "${text_parts[@]}") ms, the file's append and flush $(median "${file_parts[@]}") ms (the trace counts whole milliseconds); the record: $record"
    done
    exit 0
fi

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
