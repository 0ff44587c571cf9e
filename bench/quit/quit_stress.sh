#!/usr/bin/env bash
# Quitting under load. Starts and quits the real program and the one-buffer
# baseline player in turn, QUIT_RUNS times each (default 200), while busy
# loops keep every core but one busy, and counts how each run ended as the
# Unix parent of the Wine process sees it: exit code 0, another exit code, a
# signal, or a hang. Each pair of runs (one of each player, same case, same
# moment) presses Escape 0.5 to 3 s after the window appears while the music
# plays (a clean or a damaged track), after it has ended, or at the failure
# message (no music file, or one that is not Ogg Vorbis).
# Runs inside the harness (scripts/bench quit): DISPLAY, the sound server and
# WINEPREFIX come from there. QUIT_BUSY sets the number of busy loops (default:
# one per core but one); QUIT_CASES a subset of the cases; QUIT_LOG the log of
# every run; QUIT_TRACE=0 turns off the trace of SIGKILLs.
#   quit_stress.sh BUILD_DIR
set -uo pipefail
BUILD="$(cd "$1" && pwd)"
RUNS="${QUIT_RUNS:-200}"
WINE64=/usr/lib/wine/wine64
WORK="$(mktemp -d "$BUILD/quit-stress.XXXXXX")"
LOG="${QUIT_LOG:-$BUILD/quit-stress.log}"
BUSY_PIDS=()

KILLS_PID=""
stop_kill_trace() {
    [ -n "$KILLS_PID" ] || return 0
    kill -INT "$KILLS_PID" 2>/dev/null
    wait "$KILLS_PID" 2>/dev/null
    KILLS_PID=""
}
cleanup() {
    local pid
    stop_kill_trace
    for pid in "${BUSY_PIDS[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    xdotool keyup Escape 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

read -r -a CASES <<<"${QUIT_CASES:-playing damaged ended missing hostile}"
mkdir -p "$WORK/playing" "$WORK/damaged" "$WORK/ended" "$WORK/missing" "$WORK/hostile"
(cd "$WORK/playing" && "$WINE64" "$BUILD/bin/make_demo_track.exe" Orlenwade.ogg 20 >/dev/null 2>&1)
(cd "$WORK/ended" && "$WINE64" "$BUILD/bin/make_demo_track.exe" Orlenwade.ogg 0.3 >/dev/null 2>&1)
# Pages from a third of the way on scrambled: the decoder meets holes and
# garbage while the music plays.
cp "$WORK/playing/Orlenwade.ogg" "$WORK/damaged/Orlenwade.ogg"
size=$(stat -c %s "$WORK/damaged/Orlenwade.ogg")
head -c 20000 /dev/urandom | dd of="$WORK/damaged/Orlenwade.ogg" bs=1 seek=$((size / 3)) conv=notrunc status=none
head -c 4000 /dev/urandom >"$WORK/hostile/Orlenwade.ogg"
for c in playing ended; do
    [ -s "$WORK/$c/Orlenwade.ogg" ] || { echo "quit: could not make the $c track" >&2; exit 1; }
done

# Who sends a SIGKILL: Wine's server kills a process whose Unix side has not
# gone a moment after its last thread ended (its exit code is recorded by
# then); anything else would be a fault. Traced with perf where it works.
if command -v perf >/dev/null && [ "${QUIT_TRACE:-1}" = 1 ]; then
    perf record -q -e signal:signal_generate --filter 'sig == 9' -a -o "$WORK/kills.data" >/dev/null 2>&1 &
    KILLS_PID=$!
    sleep 1
    kill -0 "$KILLS_PID" 2>/dev/null || KILLS_PID=""
fi

for _ in $(seq 1 "${QUIT_BUSY:-$(($(nproc) - 1))}"); do
    (while :; do :; done) &
    BUSY_PIDS+=($!)
done
echo "quit: $RUNS runs of each player, ${#BUSY_PIDS[@]} busy loop(s) on $(nproc) cores; log in $LOG"
: >"$LOG"

# How a run ended, from the wait status of the Wine process.
outcome_of() {
    local status=$1
    if [ "$status" -eq 0 ]; then
        echo "exit 0"
    elif [ "$status" -gt 128 ]; then
        echo "signal $((status - 128))"
    else
        echo "exit code $status"
    fi
}

# Seconds since $1 (an EPOCHREALTIME reading), to a tenth.
since() {
    awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'
}

# run_one PLAYER CASE DELAY: prints the outcome, a semicolon, and timings.
run_one() {
    local player=$1 case=$2 delay=$3 exe title pid wid="" i status waited=0 started pressed shown
    if [ "$player" = ours ]; then
        exe="$BUILD/bin/sondrel.exe"
        title='^ Sondrel by Tavik$'
        [ "$case" = missing ] || [ "$case" = hostile ] && title='^ov:Lib$'
    else
        exe="$BUILD/bench/one_buffer_player.exe"
        title='^One-buffer player$'
        [ "$case" = missing ] || [ "$case" = hostile ] && title='^One-buffer player: no music$'
    fi
    started=$EPOCHREALTIME
    (cd "$WORK/$case" && WINEDEBUG=err+all exec "$WINE64" "$exe" >"$WORK/run.out" 2>&1) &
    pid=$!
    for i in $(seq 1 300); do
        wid=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1)
        [ -n "$wid" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$wid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        echo "no window;"
        return
    fi
    shown="window after $(since "$started") s"
    sleep "$delay"
    if kill -0 "$pid" 2>/dev/null; then
        timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null
        pressed=$EPOCHREALTIME
        xdotool keydown Escape
        # Held until the program has ended, however slowly it polls.
        while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 300 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        xdotool keyup Escape
        shown="$shown, ended $(since "$pressed") s after Escape"
    else
        shown="$shown, ended before Escape"
    fi
    if kill -0 "$pid" 2>/dev/null; then
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        echo "hung;$shown"
        return
    fi
    wait "$pid"
    status=$?
    echo "$(outcome_of "$status");$shown, Unix pid $pid"
}

declare -A COUNT
for run in $(seq 1 "$RUNS"); do
    case=${CASES[$((RANDOM % ${#CASES[@]}))]}
    delay=$(awk -v r=$RANDOM 'BEGIN { printf "%.2f", 0.5 + 2.5 * r / 32767 }')
    if [ $((run % 2)) -eq 1 ]; then order="ours baseline"; else order="baseline ours"; fi
    for player in $order; do
        outcome=$(run_one "$player" "$case" "$delay")
        kind=${outcome%%;*}
        COUNT["$player|$kind"]=$((${COUNT["$player|$kind"]:-0} + 1))
        COUNT["$player|$case|$kind"]=$((${COUNT["$player|$case|$kind"]:-0} + 1))
        echo "$run $player $case $delay: ${outcome/;/; }" >>"$LOG"
        if [ "$kind" != "exit 0" ]; then
            echo "quit: run $run, $player, $case, Escape after $delay s: ${outcome/;/; }"
            tail -n 5 "$WORK/run.out" | sed 's/^/quit:   /'
        fi
    done
    [ $((run % 20)) -eq 0 ] && echo "quit: $run of $RUNS pairs done"
done

stop_kill_trace
if [ -f "$WORK/kills.data" ]; then
    perf script -i "$WORK/kills.data" 2>/dev/null >"$WORK/kills.txt"
    grep -E ': signal 9;' "$LOG" | while read -r line; do
        pid=${line##*Unix pid }
        sender=$(awk -v p="pid=$pid" '$0 ~ p" " { print $1; exit }' "$WORK/kills.txt")
        echo "quit: SIGKILL of ${line%%:*} (Unix pid $pid) sent by ${sender:-no process seen}"
    done
fi

for player in ours baseline; do
    line=""
    for key in "${!COUNT[@]}"; do
        IFS='|' read -r p rest <<<"$key"
        [ "$p" = "$player" ] && [[ "$rest" != *"|"* ]] && line="$line, $rest: ${COUNT[$key]}"
    done
    echo "quit: $player over $RUNS runs${line}"
    for case in "${CASES[@]}"; do
        line=""
        for key in "${!COUNT[@]}"; do
            IFS='|' read -r p c kind <<<"$key"
            [ "$p" = "$player" ] && [ "$c" = "$case" ] && [ -n "$kind" ] && line="$line, $kind: ${COUNT[$key]}"
        done
        [ -n "$line" ] && echo "quit:   $case${line}"
    done
    awk -v p="$player" '$2 == p && match($0, /ended [0-9.]+ s after Escape/) {
            split(substr($0, RSTART, RLENGTH), w, " "); n++; t += w[2]; if (w[2] > m) m = w[2] }
        END { if (n) printf "quit:   from Escape to the end of the process: mean %.1f s, longest %.1f s (%d runs)\n", t / n, m, n }' "$LOG"
done
