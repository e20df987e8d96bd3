#!/usr/bin/env bash
# run-fuzzer.sh FUZZER CORPUS SECONDS
# Fuzzes for SECONDS from the committed seed corpus, collecting new inputs in a
# scratch folder so the committed corpus stays as it is. A finding is written
# beside the scratch folder and fails the run.
set -euo pipefail
fuzzer=$1 corpus=$2 seconds=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/pdt-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/new" "$work/artifacts"
"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/new" "$corpus"
