#!/usr/bin/env bash
# wine-env.sh: the Wine test bench. Windows test programs run here under Wine in a
# private prefix inside the build tree, with COM1..COM9 mapped to symlinks that
# native peers point at their pseudo-terminals. See README.md in this folder.
#
#   wine-env.sh exec-wine PROGRAM.exe [ARGS...]  run one program, return its exit code
#   wine-env.sh session COMMAND [ARGS...]        run COMMAND with one Xvfb and kept wineservers
#   wine-env.sh session-start | session-stop     the same, in two steps
#   wine-env.sh link-com N PATH                  point COMn at PATH (a pty slave)
#   wine-env.sh prefix 64|32                     create the prefix now, print its path
#
# Environment: PDT_WINE_KEEP_SERVER=1 keeps the wineserver running after the
# program (later starts are faster); PDT_PTY_ADAPTER overrides the adapter path;
# PDT_WINEDEBUG overrides WINEDEBUG=-all.
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
bench_dir=$root/build/wine
com_dir=$bench_dir/com
session_file=$bench_dir/session # "DISPLAY XVFB_PID" of a running session
shared_xvfb_file=$bench_dir/xvfb # the same for the Xvfb shared outside a session
wine_lib=/usr/lib/wine
wineserver_bin=$wine_lib/wineserver64
[ -x "$wineserver_bin" ] || wineserver_bin=$wine_lib/wineserver32
com_count=9
ctl_fd=
users_fd=

die() {
    echo "wine-env: $*" >&2
    exit 1
}

# Exit code 77 tells CTest the test was skipped.
skip() {
    echo "wine-env: $*" >&2
    exit 77
}

# Runs a command without the bench's lock descriptors, so that no long-lived
# child (wineserver, Xvfb) holds a lock after this script has ended.
close_locks() {
    [ -z "$ctl_fd" ] || exec {ctl_fd}>&-
    [ -z "$users_fd" ] || exec {users_fd}>&-
}
unlocked() { (close_locks && exec "$@"); }

# 64 or 32, from the machine field of the PE header.
pe_bits() {
    local program=$1 offset signature machine
    offset=$(od -An -tu4 -j60 -N4 "$program" 2>/dev/null | tr -d ' \n')
    [ -n "$offset" ] || die "$program: not a Windows program"
    signature=$(od -An -tx1 -j"$offset" -N4 "$program" | tr -d ' \n')
    [ "$signature" = 50450000 ] || die "$program: not a Windows program (no PE header)"
    machine=$(od -An -tx1 -j$((offset + 4)) -N2 "$program" | tr -d ' \n')
    case $machine in
        6486) echo 64 ;;
        4c01) echo 32 ;;
        *) die "$program: unsupported machine type $machine" ;;
    esac
}

# Sets loader, prefix and adapter_name for 64 or 32 bits.
select_arch() {
    case $1 in
        64)
            loader=$wine_lib/wine64
            export WINEARCH=win64
            adapter_name=libpdtptyadapter64.so
            ;;
        32)
            loader=$wine_lib/wine
            export WINEARCH=win32
            adapter_name=libpdtptyadapter32.so
            [ -x "$loader" ] || skip "32-bit Wine (wine32) is not installed; skipped"
            "$loader" --version >/dev/null 2>&1 ||
                skip "this kernel cannot run 32-bit programs (no i386 emulation); skipped"
            ;;
        *) die "bits must be 64 or 32, not '$1'" ;;
    esac
    [ -x "$loader" ] || die "$loader not found: install wine (scripts/setup.sh)"
    prefix=$bench_dir/prefix$1
    export WINEPREFIX=$prefix WINELOADER=$loader WINESERVER=$wineserver_bin
    export WINEDEBUG=${PDT_WINEDEBUG:--all}
}

find_adapter() {
    local candidate
    for candidate in "${PDT_PTY_ADAPTER:-}" "$root/build/linux/tools/ptyadapter/$adapter_name" \
        "$root/dist/linux/$adapter_name"; do
        if [ -n "$candidate" ] && [ -f "$candidate" ]; then
            echo "$candidate"
            return
        fi
    done
    echo "wine-env: $adapter_name not found (build the linux preset): serial ports on ptys" \
        "will not work" >&2
}

start_server() { # start_server -p|-p0: no-op when one already runs for the prefix
    unlocked "$wineserver_bin" "$1" </dev/null >/dev/null 2>&1 || true
}

wait_server_exit() {
    timeout 60 "$wineserver_bin" -w 2>/dev/null || "$wineserver_bin" -k 2>/dev/null || true
}

# COM ports, and no crash dialog or debugger: a crashing test program must end
# at once, not wait for a click or a debugger while the other programs stall.
write_bench_registry() {
    local reg=$bench_dir/bench.reg n
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        for n in $(seq 1 $com_count); do printf '"COM%d"="%s"\r\n' "$n" "$com_dir/com$n"; done
        printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n'
        printf '"ShowCrashDialog"=dword:00000000\r\n'
        # No debugger at all: winedbg --auto can itself hang on a crashed test.
        printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\r\n'
        printf '"Debugger"=""\r\n"Auto"="1"\r\n'
    } >"$reg"
    unlocked "$loader" regedit /S "$reg" </dev/null >/dev/null 2>&1
}

# Creates the prefix once and points its COM ports at the symlinks in $com_dir.
# Wine's mount manager re-creates dosdevices/comN at every wineserver start from
# these registry values; without them COM1 would be the host's /dev/ttyS0.
ensure_prefix() {
    local stamp=$prefix/.pdt-bench lock_fd want="$com_dir no-debugger"
    [ "$(cat "$stamp" 2>/dev/null)" = "$want" ] && return
    exec {lock_fd}>"$bench_dir/prefix.lock"
    flock "$lock_fd"
    if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
        echo "wine-env: preparing $prefix (once; takes a while)" >&2
        (
            exec {lock_fd}>&-
            unset DISPLAY LD_PRELOAD
            # No Mono or Gecko installer dialogs: nobody is there to answer them.
            export WINEDLLOVERRIDES="mscoree=;mshtml="
            start_server -p0
            "$loader" wineboot -i </dev/null >/dev/null 2>&1
            write_bench_registry
            wait_server_exit
        ) || die "could not prepare $prefix"
        echo "$want" >"$stamp"
    fi
    exec {lock_fd}>&-
}

alive() { [ "$1" = 0 ] || kill -0 "$1" 2>/dev/null; }

# Starts a private Xvfb; prints "DISPLAY PID".
start_xvfb() {
    command -v Xvfb >/dev/null || die "Xvfb not found: install xvfb (scripts/setup.sh)"
    local number_file pid number=""
    number_file=$(mktemp "$bench_dir/xvfb-display.XXXXXX")
    (close_locks && exec setsid Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 \
        3>"$number_file" </dev/null >/dev/null 2>&1) &
    pid=$!
    for _ in $(seq 100); do
        number=$(tr -d ' \n' <"$number_file")
        [ -z "$number" ] && alive "$pid" || break
        sleep 0.05
    done
    rm -f "$number_file"
    [ -n "$number" ] || die "Xvfb did not start"
    echo ":$number $pid"
}

stop_xvfb() { # stop_xvfb PID
    [ "$1" = 0 ] && return
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 100); do
        alive "$1" || return 0
        sleep 0.05
    done
    kill -9 "$1" 2>/dev/null || true
}

read_state() { # read_state FILE: sets state_display and state_pid when FILE names a live Xvfb
    state_display= state_pid=
    [ -f "$1" ] || return 1
    read -r state_display state_pid <"$1" || true
    [ -n "$state_pid" ] && alive "$state_pid"
}

# Joins the bench: a session's display, the user's, or an Xvfb shared by all
# programs running at the same time, started by the first and stopped by the last.
bench_enter() {
    exec {ctl_fd}>"$bench_dir/bench.lock"
    flock "$ctl_fd"
    exec {users_fd}>"$bench_dir/bench.users"
    flock -s "$users_fd"
    in_session=0
    if read_state "$session_file"; then
        in_session=1
        export DISPLAY=$state_display
    elif [ -z "${DISPLAY:-}" ]; then
        if ! read_state "$shared_xvfb_file"; then
            start_xvfb >"$shared_xvfb_file"
            read_state "$shared_xvfb_file" || die "Xvfb did not start"
        fi
        export DISPLAY=$state_display
    fi
    flock -u "$ctl_fd"
}

bench_leave() { # bench_leave KEEP
    flock "$ctl_fd"
    flock -u "$users_fd"
    if flock -n -x "$users_fd"; then # the last program of the bench
        [ "$1" = 1 ] || wait_server_exit
        if read_state "$shared_xvfb_file"; then stop_xvfb "$state_pid"; fi
        rm -f "$shared_xvfb_file"
    fi
    exec {users_fd}>&- {ctl_fd}>&-
    users_fd= ctl_fd=
}

# With a kept wineserver, Wine's own processes (services.exe, explorer.exe...)
# started by this program outlive it and keep its standard output and error
# open; a caller that reads them through a pipe (CTest) would wait for them
# forever. So the program writes to files, which are copied out afterwards.
run_captured() { # run_captured ADAPTER PROGRAM [ARGS...]
    local adapter=$1 out err status=0
    shift
    out=$(mktemp "$bench_dir/out.XXXXXX")
    err=$(mktemp "$bench_dir/err.XXXXXX")
    LD_PRELOAD=$adapter unlocked "$loader" "$@" >"$out" 2>"$err" || status=$?
    cat "$out"
    cat "$err" >&2
    rm -f "$out" "$err"
    return "$status"
}

exec_wine() {
    [ $# -ge 1 ] || die "usage: wine-env.sh exec-wine PROGRAM.exe [ARGS...]"
    local program=$1 bits adapter keep status=0
    shift
    [ -f "$program" ] || die "$program: no such file"
    bits=$(pe_bits "$program")
    select_arch "$bits"
    mkdir -p "$com_dir"
    ensure_prefix
    adapter=$(find_adapter)
    bench_enter
    keep=${PDT_WINE_KEEP_SERVER:-0}
    [ "$in_session" = 0 ] || keep=1
    if [ "$keep" = 1 ]; then start_server -p; else start_server -p0; fi
    # The wineserver runs without the adapter; only the wine process needs it.
    if [ "$keep" = 1 ]; then
        run_captured "$adapter" "$program" "$@" || status=$?
    else
        LD_PRELOAD=$adapter unlocked "$loader" "$program" "$@" || status=$?
    fi
    bench_leave "$keep"
    return "$status"
}

session_start() {
    mkdir -p "$bench_dir"
    if read_state "$session_file"; then return; fi
    if [ -n "${DISPLAY:-}" ]; then
        echo "$DISPLAY 0" >"$session_file"
    else
        start_xvfb >"$session_file"
    fi
}

session_stop() {
    local bits
    for bits in 64 32; do
        if [ -d "$bench_dir/prefix$bits" ]; then
            WINEPREFIX=$bench_dir/prefix$bits "$wineserver_bin" -k 2>/dev/null || true
            WINEPREFIX=$bench_dir/prefix$bits timeout 30 "$wineserver_bin" -w 2>/dev/null || true
        fi
    done
    if read_state "$session_file"; then stop_xvfb "$state_pid"; fi
    rm -f "$session_file"
}

session() {
    [ $# -ge 1 ] || die "usage: wine-env.sh session COMMAND [ARGS...]"
    local status=0
    session_start
    trap session_stop EXIT
    "$@" || status=$?
    return "$status"
}

link_com() {
    [ $# = 2 ] || die "usage: wine-env.sh link-com N PATH"
    [[ $1 =~ ^[1-9]$ ]] || die "COM number must be 1..$com_count, not '$1'"
    mkdir -p "$com_dir"
    ln -sfn "$2" "$com_dir/com$1.tmp$$"
    mv -fT "$com_dir/com$1.tmp$$" "$com_dir/com$1"
}

command=${1:-}
[ $# -gt 0 ] && shift
mkdir -p "$bench_dir"
case $command in
    exec-wine) exec_wine "$@" ;;
    session) session "$@" ;;
    session-start | xvfb-start) session_start ;;
    session-stop | xvfb-stop) session_stop ;;
    link-com) link_com "$@" ;;
    prefix)
        select_arch "${1:-64}"
        ensure_prefix
        echo "$prefix"
        ;;
    *) die "usage: wine-env.sh exec-wine|session|session-start|session-stop|link-com|prefix ..." ;;
esac
