#!/usr/bin/env bash
# run-under-wine.sh PROGRAM.exe [ARGS...]
# Runs one Windows program under Wine in the build tree's private prefix.
exec "$(dirname "$(readlink -f "$0")")/wine-env.sh" exec-wine "$@"
