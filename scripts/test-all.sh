#!/usr/bin/env bash
# The whole test run: installs what is missing, builds every preset and runs
# every test (native ones natively, Windows ones under Wine).
#
#   scripts/test-all.sh            everything
#   PDT_PRESETS="linux win64" scripts/test-all.sh   a subset
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || exit 1

presets=${PDT_PRESETS:-"linux win64 win32 asan tsan"}
jobs=$(nproc)
summary=()
passed=0 failed=0 status=0

build() {  # build PRESET: configure, build, install into dist/
    cmake --preset "$1" >"build-$1.log" 2>&1 \
        && cmake --build --preset "$1" -j "$jobs" >>"build-$1.log" 2>&1 \
        && { [ "$1" = asan ] || [ "$1" = tsan ] || cmake --install "build/$1" >>"build-$1.log" 2>&1; }
}

run_tests() {  # run_tests PRESET [ctest args...]
    local preset=$1; shift
    local log="build/$preset/ctest.log"
    ctest --preset "$preset" "$@" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local line p f
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
    if [ -n "$line" ]; then
        f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        local total
        total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
        local skipped
        skipped=$(grep -cE '\*\*\*Skipped|Not Run' "$log" || true)
        p=$((total - f - skipped))
        passed=$((passed + p)); failed=$((failed + f))
        summary+=("$preset: $p passed, $f failed, $skipped skipped")
    else
        summary+=("$preset: no test results")
    fi
    [ "$rc" = 0 ] || status=1
}

wine_session_start() { tests/wine/wine-env.sh session-start; }
wine_session_stop() { tests/wine/wine-env.sh session-stop; }

mkdir -p build
for preset in $presets; do
    echo "=== $preset: build"
    if ! build "$preset"; then
        tail -50 "build-$preset.log"
        summary+=("$preset: BUILD FAILED (see build-$preset.log)")
        failed=$((failed + 1)); status=1
        continue
    fi
    mv -f "build-$preset.log" "build/$preset/build.log"
    echo "=== $preset: test"
    case $preset in
        win32|win64)
            # One Xvfb and one wineserver for all Windows test programs; the
            # programs share the COM port mapping, so they run one at a time.
            wine_session_start
            run_tests "$preset" -j1
            wine_session_stop
            ;;
        *) run_tests "$preset" -j "$jobs" ;;
    esac
done

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "total: $passed passed, $failed failed"
exit $status
