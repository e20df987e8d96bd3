#!/usr/bin/env bash
# run-benchmarks.sh: every benchmark of the driver, one table at the end.
#
#   bench/run-benchmarks.sh
#
# Needs the linux preset built (pdt, the Google Benchmark programs) and, for
# the rows under Wine, the win64 preset (PDT.dll, reliability_host.exe).
# Timings on this machine vary, so the figures are ratios or distributions.
# A goal that is met is marked "met"; a missed one "MISSED" with its figure.
#
# Environment:
#   PDT_BENCH_WINE=0              skip the rows under Wine
#   PDT_BENCH_LATENCY_RECORDS=N   records of the latency run (default 3400: 10,200 frames)
#   PDT_BENCH_LINE_RECORDS=N      records of the line-closeness runs (default 1000)
#   PDT_BENCH_MEMORY_RECORDS=N    records of the memory runs (default 99999)
#   PDT_BENCH_COM=N               COM port (1..9) of the Wine runs (default 8)
set -uo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
linux=$root/build/linux
win64=$root/build/win64
pdt=$linux/tools/pdt/pdt
wine_env=$root/tests/wine/wine-env.sh
host_exe=$win64/tests/reliability/reliability_host.exe
com=${PDT_BENCH_COM:-8}
com_link=$root/build/wine/com/com$com
latency_records=${PDT_BENCH_LATENCY_RECORDS:-3400}
line_records=${PDT_BENCH_LINE_RECORDS:-1000}
memory_records=${PDT_BENCH_MEMORY_RECORDS:-99999}
run_wine=${PDT_BENCH_WINE:-1}

work=$(mktemp -d "${TMPDIR:-/tmp}/pdt-bench.XXXXXX")
rows=()
sim_pid=
own_session=0

cleanup() {
    [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
    [ "$own_session" = 0 ] || "$wine_env" session-stop
    rm -f "$com_link"
    rm -rf "$work"
}
trap cleanup EXIT

note() { echo "== $*" >&2; }

# row NAME FIGURE GOAL VERDICT
row() { rows+=("$1|$2|$3|$4"); }

# verdict VALUE OP LIMIT: "met" or "MISSED (VALUE)"
verdict() {
    if awk -v v="$1" -v l="$3" "BEGIN { exit !(v $2 l) }"; then echo met; else echo "MISSED ($1)"; fi
}

[ -x "$pdt" ] || { echo "build the linux preset first (no $pdt)" >&2; exit 1; }

# --- the simulated terminal ----------------------------------------------

# start_terminal LINK ARGS...: pdt simulate on a new pty behind LINK, output in $work/sim.out.
start_terminal() {
    local link=$1
    shift
    rm -f "$link"
    "$pdt" simulate "$@" --link "$link" >"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 200); do
        [ -e "$link" ] && return 0
        sleep 0.05
    done
    echo "the simulator made no $link" >&2
    return 1
}

# Waits for the simulator to end (after the PC's ESC) and prints its output.
finish_terminal() {
    for _ in $(seq 200); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
    cat "$work/sim.out"
}

# latency_field LINE NAME: the value of NAME= in "latency_us count=... min=..."
latency_field() { sed -nE "s/.*[ ]$2=([0-9]+).*/\1/p" <<<"$1"; }

# --- the PC's side: pdt receive natively, PDT.dll under Wine ---------------

receive_native() { # receive_native LINK
    "$pdt" receive --device "$1" --quantity-field 3 --progress none --format csv \
        --timeout 30 >"$work/records.csv" 2>"$work/receive.err"
}

wine_ready() {
    [ "$run_wine" = 1 ] || return 1
    if [ ! -f "$host_exe" ]; then
        note "no $host_exe: build the win64 preset for the rows under Wine"
        return 1
    fi
    return 0
}

receive_wine() { # receive_wine RECORDS: downloads RECORDS through PDT.dll on COM$com
    "$wine_env" exec-wine "$host_exe" --com "$com" --records "$1" --timeout 3600000 \
        >"$work/host.out" 2>"$work/host.err"
}

# --- 1. reply latency ------------------------------------------------------

latency_rows() { # latency_rows WHERE LINK RUNNER MEDIAN_GOAL P99_GOAL
    local where=$1 link=$2 runner=$3 median_goal=$4 p99_goal=$5 out line
    note "reply latency, $where ($latency_records records)"
    start_terminal "$link" --records "$latency_records" --latency || return
    "$runner" "$latency_records" "$link"
    out=$(finish_terminal)
    line=$(grep '^latency_us' <<<"$out")
    if [ -z "$line" ]; then
        row "Reply latency, $where" "no figures" "" "FAILED"
        return
    fi
    local count min median p99 max
    count=$(latency_field "$line" count) min=$(latency_field "$line" min)
    median=$(latency_field "$line" median) p99=$(latency_field "$line" p99)
    max=$(latency_field "$line" max)
    local figure="n=$count min=${min}us median=${median}us p99=${p99}us max=${max}us"
    local goal="" status=""
    if [ -n "$median_goal" ]; then
        goal="median<=${median_goal}us"
        status="median $(verdict "$median" "<=" "$median_goal")"
    fi
    goal="${goal:+$goal, }p99<=${p99_goal}us"
    status="${status:+$status, }p99 $(verdict "$p99" "<=" "$p99_goal")"
    row "Reply latency, $where" "$figure" "$goal" "$status"
}

native_runner() { receive_native "$2"; }
wine_runner() { receive_wine "$1"; }

# --- 2. closeness to the line ------------------------------------------------

# From a simulator transcript: the exchange's time from the PC's first byte to
# its last ACK, and every byte on the line up to then (both directions).
# Prints "SECONDS BYTES".
transcript_span() {
    awk '
        $2 == "PC>T" || $2 == "T>PC" {
            n = NF - 2
            if ($2 == "PC>T") {
                if (start == "") start = $1
                for (i = 3; i <= NF; ++i) if ($i == "06") { end = $1; endBytes = bytes + n }
            }
            bytes += n
        }
        END { printf "%.6f %d\n", end - start, endBytes }' "$1"
}

line_rows() { # line_rows WHERE LINK RUNNER
    local where=$1 link=$2 runner=$3 baud span seconds bytes limit ratio
    for baud in 19200 9600; do
        note "closeness to the line, $where, $baud baud ($line_records records x 3 fields)"
        start_terminal "$link" --records "$line_records" --baud "$baud" \
            --transcript "$work/line.tr" || return
        "$runner" "$line_records" "$link"
        finish_terminal >/dev/null
        span=$(transcript_span "$work/line.tr")
        read -r seconds bytes <<<"$span"
        limit=$(awk -v b="$bytes" -v r="$baud" 'BEGIN { printf "%.3f", b * 10 / r }')
        ratio=$(awk -v s="$seconds" -v l="$limit" 'BEGIN { printf "%.3f", (l > 0 ? s / l : 0) }')
        row "Line time, $where, $baud baud" \
            "$(printf '%.2f s / %s s limit (%d bytes) = %s' "$seconds" "$limit" "$bytes" "$ratio")" \
            "<=1.05" "$(verdict "$ratio" "<=" 1.05)"
    done
}

# --- 3 and 4. Google Benchmarks ------------------------------------------------

# bench_csv PROGRAM FILTER: the benchmark's CSV rows (name,iterations,real_time,
# cpu_time,time_unit,bytes_per_second,items_per_second,...)
bench_csv() {
    "$linux/bench/$1" --benchmark_filter="$2" --benchmark_format=csv \
        --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
        grep '_median"'
}

throughput_rows() {
    note "protocol throughput"
    local csv
    csv=$(bench_csv protocol_bench 'BM_FullExchange/30000')
    if [ -z "$csv" ]; then
        row "Protocol throughput (in memory)" "no figures" "" "FAILED"
        return
    fi
    local bps times
    bps=$(awk -F, '{ printf "%.1f", $6 / 1e6 }' <<<"$csv")
    times=$(awk -F, '{ printf "%.0f", $6 / 1920 }' <<<"$csv")
    row "Protocol throughput, 30,000-record exchange in memory" \
        "$bps MB/s (x$times the 19200-baud line)" "" "-"
}

growth_rows() {
    note "result building"
    local csv small large
    csv=$(bench_csv result_growth_bench 'BM_ResultGrowth')
    small=$(grep '/10000_median' <<<"$csv" | cut -d, -f3)
    large=$(grep '/99999_median' <<<"$csv" | cut -d, -f3)
    if [ -z "$small" ] || [ -z "$large" ]; then
        row "Result building" "no figures" "" "FAILED"
        return
    fi
    local ratio per_record
    ratio=$(awk -v s="$small" -v l="$large" 'BEGIN { printf "%.2f", l / s }')
    per_record=$(awk -v s="$small" -v l="$large" \
        'BEGIN { printf "%.2f", (l / 99999) / (s / 10000) }')
    row "Result building, 99,999 records" "$(printf '%.1f ms' "$large")" "" "-"
    row "Result growth, 99,999 vs 10,000 records" \
        "x$ratio total, x$per_record per record" "linear: per record <=1.5" \
        "$(verdict "$per_record" "<=" 1.5)"
}

# --- 5. memory ----------------------------------------------------------------------

memory_native() {
    note "peak memory, pdt receive, $memory_records records"
    start_terminal "$work/line" --records "$memory_records" || return
    /usr/bin/time -f '%M' -o "$work/maxrss" "$pdt" receive --device "$work/line" \
        --quantity-field 3 --progress none --format csv --timeout 60 \
        >"$work/records.csv" 2>"$work/receive.err"
    finish_terminal >/dev/null
    local records kb
    records=$(($(wc -l <"$work/records.csv") - 1))
    kb=$(tail -1 "$work/maxrss")
    row "Peak memory, pdt receive ($records records)" "$((kb / 1024)) MB max RSS" "" "-"
}

memory_wine() {
    note "peak memory, host process under Wine, $memory_records records (long)"
    start_terminal "$com_link" --records "$memory_records" || return
    receive_wine "$memory_records"
    local status=$?
    finish_terminal >/dev/null
    local kb
    kb=$(sed -nE 's/^peak_working_kb=([0-9]+).*/\1/p' "$work/host.out")
    if [ "$status" != 0 ] || [ -z "$kb" ]; then
        row "Peak memory, host under Wine" "run failed: $(tail -1 "$work/host.err")" "" "FAILED"
        return
    fi
    row "Peak memory, host under Wine ($memory_records records)" "$((kb / 1024)) MB peak working set" \
        "" "-"
}

# --- the runs ---------------------------------------------------------------------

latency_rows native "$work/line" native_runner 100 1000
line_rows native "$work/line" native_runner
throughput_rows
growth_rows
memory_native

if wine_ready; then
    # One Xvfb and wineserver for all Wine runs, unless a session already runs.
    if ! [ -f "$root/build/wine/session" ]; then
        "$wine_env" session-start && own_session=1
    fi
    mkdir -p "$root/build/wine/com"
    # The COM port is locked like with-peers.sh locks it, so tests wait for us.
    exec {com_lock}>"$root/build/wine/com/com$com.lock"
    flock "$com_lock"
    latency_rows "PDT.dll under Wine" "$com_link" wine_runner "" 2000
    line_rows "PDT.dll under Wine" "$com_link" wine_runner
    memory_wine
    exec {com_lock}>&-
fi

# --- the table ----------------------------------------------------------------------

echo
printf '%-58s | %-62s | %-28s | %s\n' "Benchmark" "Figure" "Goal" "Verdict"
printf '%s\n' "$(printf -- '-%.0s' $(seq 170))"
missed=0
for r in "${rows[@]}"; do
    IFS='|' read -r name figure goal status <<<"$r"
    printf '%-58s | %-62s | %-28s | %s\n' "$name" "$figure" "$goal" "$status"
    [[ $status == *MISSED* || $status == FAILED ]] && missed=$((missed + 1))
done
echo
echo "goals missed or runs failed: $missed"
