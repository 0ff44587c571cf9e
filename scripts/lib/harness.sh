# Sourced by the scripts that run Windows programs: a private X display, a
# private PulseAudio server with a null sink as the sound card, and a Wine
# prefix. harness_stop ends what harness_start started, by process id; it runs
# on every way out of the script (on_exit).

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
HARNESS_DIR="${HARNESS_DIR:-$ROOT/build/run}"
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
HARNESS_XVFB_PID=""
HARNESS_PULSE_PID=""

# on_exit COMMAND: COMMAND runs when this process ends, whichever way: at the
# end, on an error, or on INT, TERM or HUP. Commands added later run first, so
# what was started last is stopped first. A subshell keeps a list of its own.
EXIT_ACTIONS=()
EXIT_ACTIONS_OWNER=""
on_exit() {
    if [ "$EXIT_ACTIONS_OWNER" != "$BASHPID" ]; then
        EXIT_ACTIONS=()
        EXIT_ACTIONS_OWNER="$BASHPID"
    fi
    EXIT_ACTIONS=("$1" "${EXIT_ACTIONS[@]}")
    trap run_exit_actions EXIT
    # Without these a signal ends bash without its EXIT trap.
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}

run_exit_actions() {
    # A second interrupt must not cut the clean-up short.
    trap '' INT TERM HUP
    local action
    for action in "${EXIT_ACTIONS[@]}"; do $action || true; done
}

harness_free_display() {
    local n=91
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    echo "$n"
}

harness_start_display() {
    local n
    n="$(harness_free_display)"
    Xvfb ":$n" -screen 0 1366x768x24 -nolisten tcp >"$HARNESS_DIR/xvfb.log" 2>&1 &
    HARNESS_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    [ -e "/tmp/.X11-unix/X$n" ] || { echo "harness: Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$n"
}

harness_start_sound() {
    export XDG_RUNTIME_DIR="$HARNESS_DIR/xdg"
    rm -rf "$XDG_RUNTIME_DIR"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export HOME="$HARNESS_DIR/home"
    mkdir -p "$HOME"
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
        -L module-native-protocol-unix -L "module-null-sink sink_name=out rate=44100 channels=2" \
        >"$HARNESS_DIR/pulse.log" 2>&1 &
    HARNESS_PULSE_PID=$!
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    local i
    for i in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl info >/dev/null 2>&1 || { echo "harness: PulseAudio did not start" >&2; cat "$HARNESS_DIR/pulse.log" >&2; return 1; }
    pactl set-default-sink out
    # Recording from the default source hears what the program played.
    pactl set-default-source out.monitor
}

# The enabled binfmt_misc entries that run i386 programs.
harness_i386_handlers() {
    local e
    for e in /proc/sys/fs/binfmt_misc/*; do
        [ -f "$e" ] || continue
        case "${e##*/}" in register | status) continue ;; esac
        grep -qx enabled "$e" 2>/dev/null && grep -q '^magic 7f454c46010101.*02000300$' "$e" && echo "$e"
    done
    return 0
}

harness_start_wine() {
    export WINEPREFIX="${WINEPREFIX:-$ROOT/build/wineprefix}"
    export WINEDEBUG="${WINEDEBUG:--all}"
    # No debugger on a crash: a crashed test must end, not wait for one.
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "harness: making the Wine prefix (first start takes a few seconds)"
        # A new prefix sets up its 32-bit half only if the kernel can start
        # 32-bit programs: under an emulator that takes minutes, not seconds.
        local handler
        for handler in $(harness_i386_handlers); do
            echo "harness: $handler runs 32-bit programs now, so the new prefix gets its 32-bit half (slow)"
        done
        "$WINE64" wineboot -i >/dev/null 2>&1 || true
        "$WINESERVER" -w || true
    fi
    # Wine's helper processes inherit the first process's output: start them
    # with output to /dev/null so that no pipe is held open later.
    "$WINE64" cmd /c exit >/dev/null 2>&1 || true
}

# Adds harness_stop to the caller's exit actions before it starts anything.
harness_start() {
    mkdir -p "$HARNESS_DIR"
    on_exit harness_stop
    harness_start_display
    harness_start_sound
    harness_start_wine
}

harness_stop() {
    if [ -n "${WINEPREFIX:-}" ]; then "$WINESERVER" -k >/dev/null 2>&1 || true; fi
    if [ -n "$HARNESS_PULSE_PID" ]; then kill "$HARNESS_PULSE_PID" 2>/dev/null || true; wait "$HARNESS_PULSE_PID" 2>/dev/null || true; fi
    if [ -n "$HARNESS_XVFB_PID" ]; then kill "$HARNESS_XVFB_PID" 2>/dev/null || true; wait "$HARNESS_XVFB_PID" 2>/dev/null || true; fi
    HARNESS_PULSE_PID=""
    HARNESS_XVFB_PID=""
}
