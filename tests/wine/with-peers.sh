#!/usr/bin/env bash
# with-peers.sh: runs a Windows program under Wine while native peers sit on
# pseudo-terminals mapped to its COM ports.
#
#   with-peers.sh [--com N PEER]... [--missing N]... -- PROGRAM.exe [ARGS...]
#
# PEER is a command line (run by bash) to which "--link build/wine/com/comN" is
# appended; the peer creates a pty pair, points that link at its slave and
# serves it until SIGTERM. "echo" names the bench's own echo peer
# (pty_echo_peer). --missing N makes sure COMn has nothing behind it.
# Each COM number is locked for the run, so programs that share one wait for
# each other. The peers are stopped afterwards, also when the program fails.
# Exit code: the program's (77 when Wine cannot run it here).
set -euo pipefail

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)
root=$(cd "$here/../.." && pwd)
com_dir=$root/build/wine/com
link_wait_s=10

coms=() peers=() missing=() peer_pids=() lock_fds=()

die() {
    echo "with-peers: $*" >&2
    exit 1
}

echo_peer() {
    local candidate
    for candidate in "${PDT_PTY_ECHO_PEER:-}" "$root/build/linux/tests/wine/pty_echo_peer" \
        "$root/dist/linux/pty_echo_peer"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            printf '%q' "$candidate"
            return
        fi
    done
    die "pty_echo_peer not found: build the linux preset first"
}

check_com() { [[ $1 =~ ^[1-9]$ ]] || die "COM number must be 1..9, not '$1'"; }

while [ $# -gt 0 ]; do
    case $1 in
        --com)
            [ $# -ge 3 ] || die "--com needs a number and a peer command"
            check_com "$2"
            coms+=("$2")
            if [ "$3" = echo ]; then peers+=("$(echo_peer)"); else peers+=("$3"); fi
            shift 3
            ;;
        --missing)
            [ $# -ge 2 ] || die "--missing needs a number"
            check_com "$2"
            missing+=("$2")
            shift 2
            ;;
        --)
            shift
            break
            ;;
        *) die "unknown option '$1' (usage: with-peers.sh [--com N PEER]... [--missing N]... -- PROGRAM.exe [ARGS...])" ;;
    esac
done
[ $# -ge 1 ] || die "no program given after --"

close_locks() {
    local fd
    for fd in "${lock_fds[@]}"; do exec {fd}>&-; done
}

lock_com() {
    local fd
    exec {fd}>"$com_dir/com$1.lock"
    flock "$fd"
    lock_fds+=("$fd")
}

stop_peers() {
    local pid
    for pid in "${peer_pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
    for pid in "${peer_pids[@]}"; do
        for _ in $(seq 40); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -KILL -- "-$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    peer_pids=()
    local n
    for n in "${coms[@]}"; do rm -f "$com_dir/com$n"; done
}
trap stop_peers EXIT

# Waits until the peer's link leads to its pty; fails when the peer dies first.
wait_for_link() { # wait_for_link N PID
    local link=$com_dir/com$1
    for _ in $(seq $((link_wait_s * 20))); do
        [ -e "$link" ] && return
        kill -0 "$2" 2>/dev/null || die "the peer on COM$1 ended before it made $link"
        sleep 0.05
    done
    die "the peer on COM$1 made no $link within ${link_wait_s}s"
}

mkdir -p "$com_dir"
for n in $(printf '%s\n' "${coms[@]}" "${missing[@]}" | sort -un); do lock_com "$n"; done
for n in "${coms[@]}" "${missing[@]}"; do rm -f "$com_dir/com$n"; done

for i in "${!coms[@]}"; do
    link=$com_dir/com${coms[$i]}
    # Each peer in its own process group, so stopping it stops all it started.
    (close_locks && exec setsid bash -c "${peers[$i]} \"\$@\" >/dev/null" peer --link "$link") &
    peer_pids+=($!)
    wait_for_link "${coms[$i]}" "$!"
done

status=0
(close_locks && exec "$here/run-under-wine.sh" "$@") || status=$?
exit "$status"
