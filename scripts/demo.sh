#!/usr/bin/env bash
# The main job, end to end: builds the driver, starts the built-in simulated
# terminal on a pseudo-terminal mapped to COM8 under Wine, and lets the sample
# host download its records through the real PDT.dll, pressing OK once all
# records have arrived. Prints the records and saves a screenshot of the
# reception dialog. Uses your own display when DISPLAY is set (watch the
# dialog), a virtual one otherwise.
#
#   scripts/demo.sh [--records N | --csv FILE]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

csv=tools/simulator/samples/records.csv
records=
while [ $# -gt 0 ]; do
    case $1 in
        --records) records=$2; shift 2 ;;
        --csv) csv=$2; shift 2 ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done

bash scripts/setup.sh
jobs=$(nproc)
for preset in linux win64 win32; do
    echo "demo: building $preset"
    { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$jobs" \
        && cmake --install "build/$preset"; } >"build-$preset-demo.log" 2>&1 \
        || { tail -30 "build-$preset-demo.log"; exit 1; }
    rm -f "build-$preset-demo.log"
done

# The 32-bit driver is the one hosts load; a kernel without 32-bit support
# (some virtual machines) runs the 64-bit one instead.
arch=win32
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "demo: this machine cannot run 32-bit programs; using the 64-bit driver"
    arch=win64
fi
bits=${arch#win}

com=8
prefix=$(tests/wine/wine-env.sh prefix "$bits" | tail -1)
ini="$prefix/drive_c/windows/Driver_.ini"
# The sample records carry barcode;name;quantity: the quantity is field 3.
cat >"$ini" <<INI
[PDT]
iComNum=$com
iBaud=9600
iParity=0
iDataBit=8
iStopBit=1
c_CodeFldNum=1
c_CountFldNum=3
c_TimeOut=60
c_FormNum=0
INI

if [ -n "$records" ]; then
    source_args="--records $records"
    expect=$records
else
    source_args="--csv $root/$csv"
    expect=$(grep -c . "$csv")
fi

out=$root/build/demo
mkdir -p "$out"
rm -f "$out/reception.bmp" "$out/reception.png"
echo "demo: simulated terminal on COM$com, $expect records; downloading through dist/$arch/PDT.dll"
tests/wine/with-peers.sh --com "$com" "$root/dist/linux/pdt simulate $source_args --repeat" -- \
    "$root/dist/$arch/pdthost.exe" --ok-after-records "$expect" \
    --screenshot "Z:${out//\//\\}\\reception.bmp" "Z:${root//\//\\}\\dist\\$arch\\PDT.dll"
if [ -f "$out/reception.bmp" ]; then
    convert "$out/reception.bmp" "$out/reception.png" && rm -f "$out/reception.bmp"
    echo "demo: screenshot of the reception dialog: build/demo/reception.png"
fi
