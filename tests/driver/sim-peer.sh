#!/usr/bin/env bash
# sim-peer.sh ARGS...: the simulated terminal (pdt simulate ARGS...) as a peer
# of with-peers.sh, from the linux build or from dist/linux.
root=$(cd "$(dirname "$0")/../.." && pwd)
for pdt in "$root/build/linux/tools/pdt/pdt" "$root/dist/linux/pdt"; do
    [ -x "$pdt" ] && exec "$pdt" simulate "$@"
done
echo "sim-peer: pdt not found: build the linux preset first" >&2
exit 1
