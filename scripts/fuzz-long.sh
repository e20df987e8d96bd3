#!/usr/bin/env bash
# fuzz-long.sh: fuzzes every libFuzzer target of the asan preset for a long
# while (default an hour each), one after another, from its seed corpus.
#
#   scripts/fuzz-long.sh [SECONDS] [TARGET...]
#
# SECONDS defaults to 3600; TARGETs default to every fuzz/*_fuzzer.cpp. Builds
# the asan preset first. A finding fails the run and is kept in
# build/asan/fuzz-findings/<target>/.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-3600}
shift $(($# > 0 ? 1 : 0))
targets=("$@")
if [ ${#targets[@]} = 0 ]; then
    for source in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

cmake --preset asan >/dev/null && cmake --build --preset asan || exit 1

status=0
for target in "${targets[@]}"; do
    fuzzer=build/asan/fuzz/$target
    findings=build/asan/fuzz-findings/$target
    if [ ! -x "$fuzzer" ]; then
        echo "fuzz-long: no $fuzzer" >&2
        status=1
        continue
    fi
    mkdir -p "$findings" build/asan/fuzz-corpus/$target
    echo "=== $target: $seconds s"
    # New inputs go to a corpus of their own, so the committed seeds stay as they are.
    if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "build/asan/fuzz-corpus/$target" "fuzz/corpus/$target"; then
        echo "=== $target: no finding"
    else
        echo "=== $target: FINDING, see $findings/"
        status=1
    fi
done
exit $status
