#!/usr/bin/env bash
# screenshot.sh OUT.png [PRESET]
# Reads the simulated terminal through PDT.dll with the sample host under Wine
# and saves the reception dialog, as it looks just before OK, as a PNG.
# Needs the linux preset (simulator, pty adapter) and PRESET (default win64)
# built and installed into dist/.
set -euo pipefail
out=${1:?usage: screenshot.sh OUT.png [PRESET]}
preset=${2:-win64}
root=$(cd "$(dirname "$0")/../.." && pwd)
dist=${PDT_DIST:-$root/dist/$preset}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The DLL reads C:\windows\Driver_.ini of the bench's prefix: COM3, quantity in field 3.
ini=$root/build/wine/prefix64/drive_c/windows/Driver_.ini
printf '[PDT]\r\niComNum=3\r\niBaud=9600\r\niParity=0\r\niDataBit=8\r\niStopBit=1\r\nc_CodeFldNum=1\r\nc_CountFldNum=3\r\nc_TimeOut=60\r\nc_FormNum=0\r\n' >"$ini"

winpath() { printf 'Z:%s' "${1//\//\\}"; }
"$root/tests/wine/with-peers.sh" \
    --com 3 "$root/tests/driver/sim-peer.sh --repeat --records 12" -- \
    "$dist/pdthost.exe" --ok-after-records 12 --screenshot "$(winpath "$work/dialog.bmp")" \
    "$(winpath "$dist/PDT.dll")"
convert "$work/dialog.bmp" "$out"
echo "saved $out"
