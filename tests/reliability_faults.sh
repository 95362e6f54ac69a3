#!/usr/bin/env bash
# The built intro when something it needs is missing, and under signals.
# Usage: reliability_faults.sh CASE VELMORA
#   no-sound    no audio back end reachable (SDL_AUDIODRIVER unset): the "Quillon" box,
#               dismissed here, then the intro runs without music; Escape ends it, code 0
#   no-server   DISPLAY names an X server that is not there: the message, code 1
#   no-gl21     an X server whose OpenGL stops at 2.0: the message in a "Velmora" box
#               after the display is released, code 1
#   sigint, sigterm   the signal ends the intro through its exit routine, as Escape
#               does: code 0, no message, the song stopped before the exit
# The display cases run inside scripts/with-xvfb; VELMORA_STATS makes the intro print
# its run statistics at exit, which tell whether music was rendered and still plays.
set -u
case_name=$1
velmora=$2
work=$(mktemp -d)
pid=""
trap 'kill -KILL $pid 2>/dev/null; rm -rf "$work"' EXIT
export VELMORA_STATS=1

fail() {
    echo "FAIL ($case_name): $*" >&2
    sed 's/^/  velmora stderr: /' "$work/err" >&2 2>/dev/null
    exit 1
}
window_id() { # waits up to 15 s for a top-level window called $1
    for _ in $(seq 150); do
        xwininfo -root -tree 2>/dev/null | awk -v n="\"$1\":" '$2 == n {print $1; f=1; exit} END {exit !f}' &&
            return 0
        sleep 0.1
    done
    return 1
}
ends_with() { # code; waits up to 15 s
    for _ in $(seq 150); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "did not end"
    wait "$pid"
    local code=$?
    pid=""
    [ "$code" -eq "$1" ] || fail "exit code $code, expected $1"
}
stat() { # the value of one run statistic
    grep '^velmora stats:' "$work/err" | tail -1 | tr ' ' '\n' | awk -F= -v k="$1" '$1 == k {print $2}'
}
grab() { # file
    timeout -k 2 20 ffmpeg -nostdin -loglevel error -f x11grab -video_size 640x480 -i "$DISPLAY" \
        -frames:v 1 -f rawvideo -pix_fmt rgb24 -y "$1" || fail "screen grab failed"
}
dismiss() { # the box called $1: Return until it has gone or the program has ended
    # The intro's own window has the same title as its fatal box and may still be
    # there for a moment, so the window is looked up again for every key press, and
    # the box counts as gone only once no such window has been seen for a second.
    window_id "$1" >/dev/null || fail "no \"$1\" box"
    local absent=0
    for _ in $(seq 100); do
        sleep 0.2
        kill -0 "$pid" 2>/dev/null || return 0
        box=$(xwininfo -root -tree 2>/dev/null | awk -v n="\"$1\":" '$2 == n {print $1; exit}')
        if [ -z "$box" ]; then
            absent=$((absent + 1))
            [ "$absent" -ge 5 ] && return 0
            continue
        fi
        absent=0
        xdotool key --window "$box" Return 2>/dev/null
    done
    fail "the \"$1\" box stayed"
}

case "$case_name" in
no-sound)
    # No ALSA device, no PulseAudio or PipeWire server to find, no driver named.
    : >"$work/asound.conf"
    mkdir -p "$work/run"
    env -u SDL_AUDIODRIVER ALSA_CONFIG_PATH="$work/asound.conf" XDG_RUNTIME_DIR="$work/run" \
        PULSE_SERVER="unix:$work/run/none" "$velmora" 2>"$work/err" &
    pid=$!
    dismiss Quillon
    window_id Velmora >/dev/null || fail "no Velmora window"
    # The picture still moves: the opening animates without music.
    sleep 1
    grab "$work/a.raw"
    sleep 1.5
    grab "$work/b.raw"
    kill -0 "$pid" 2>/dev/null || fail "ended on its own"
    cmp -s "$work/a.raw" "$work/b.raw" && fail "the picture stood still"
    xdotool key Escape
    ends_with 0
    grep -qx "Quillon: Error during initialization of Quillon" "$work/err" || fail "not reported"
    [ "$(stat blocks-rendered)" = 0 ] || fail "music was rendered without a sound output"
    ;;
no-server)
    # A display number nobody serves.
    n=57
    while [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    DISPLAY=":$n" "$velmora" 2>"$work/err" &
    pid=$!
    ends_with 1
    grep -qx "Velmora: OpenGL 2.1 needed" "$work/err" || fail "no message on stderr"
    ;;
no-gl21)
    MESA_GL_VERSION_OVERRIDE=2.0 SDL_AUDIODRIVER=dummy "$velmora" 2>"$work/err" &
    pid=$!
    dismiss Velmora
    ends_with 1
    grep -qx "Velmora: OpenGL 2.1 needed" "$work/err" || fail "no message on stderr"
    ;;
sigint | sigterm)
    # A non-interactive shell starts background commands with SIGINT ignored (and SDL
    # leaves an ignored signal alone); with job control they get it as a terminal would.
    set -m
    SDL_AUDIODRIVER=dummy "$velmora" 2>"$work/err" &
    pid=$!
    window_id Velmora >/dev/null || fail "no Velmora window"
    sleep 2
    kill -0 "$pid" 2>/dev/null || fail "ended on its own"
    [ "$case_name" = sigint ] && kill -INT "$pid" || kill -TERM "$pid"
    ends_with 0
    grep -q "^Velmora:" "$work/err" && fail "a message was shown"
    [ "$(stat blocks-rendered)" -gt 100 ] 2>/dev/null || fail "no music was playing"
    [ "$(stat playing-at-exit)" = 0 ] || fail "the song still played at the exit"
    ;;
*) fail "unknown case" ;;
esac
echo "ok ($case_name)"
