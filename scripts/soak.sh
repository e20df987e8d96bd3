#!/usr/bin/env bash
# soak.sh: 200 downloads in a row in one host process under Wine, through
# PDT.dll and the simulated terminal; prints the process's handles, threads
# and memory after downloads 1, 100 and 200 and fails when they grow.
#
#   scripts/soak.sh [DOWNLOADS] [RECORDS]     (defaults 200 and 100)
#
# Needs the linux and win64 presets built. Uses COM8.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

downloads=${1:-200}
records=${2:-100}
host=build/win64/tests/reliability/reliability_host.exe
simulate=build/linux/tools/pdt/pdt
for needed in "$host" "$simulate"; do
    [ -f "$needed" ] || { echo "soak: no $needed: build the linux and win64 presets" >&2; exit 1; }
done

report="1,$((downloads / 2)),$downloads"
echo "soak: $downloads downloads of $records records, figures after downloads $report"
exec tests/wine/wine-env.sh session tests/wine/with-peers.sh \
    --com 8 "$root/$simulate simulate --repeat --records $records" \
    -- "$host" --com 8 --records "$records" --downloads "$downloads" --report "$report" --flat
