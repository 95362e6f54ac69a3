#!/usr/bin/env bash
# The built intro end to end, inside an X server. Usage: app_end_to_end.sh CASE VELMORA
#   escape, focus, sigterm, sigint, managed (under evilwm): full screen with music until
#     Escape, another window's focus or the signal: code 0, no message, the song stopped
#   quillon, quillon-managed: no audio back end: the "Quillon" box, dismissed (under
#     evilwm too, which moves the focus as it closes), then the picture moves; Escape: 0
#   no-gl21: OpenGL 2.0 only: the fatal box, dismissed: code 1
#   quillon-sigterm, no-gl21-sigterm: SIGTERM at either box: all gone at once (well
#   under a second; the test allows three so that a loaded machine cannot fail it)
#   scenes: the main scene is on screen 45 s after the start; Escape: code 0
#   fallback: a 1024 x 600 screen without a 640 x 480 mode: the picture pillarboxed
#   no-display, no-server: no DISPLAY, or one nobody serves: the message, code 1
# Cases under evilwm exit with 77 (skipped) where it is missing. VELMORA_STATS makes
# the intro print its run statistics at exit: whether music was rendered and stopped.
set -u
case_name=$1
velmora=$2
work=$(mktemp -d)
pid="" helpers=""
trap 'kill -KILL $pid $helpers 2>/dev/null; rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} VELMORA_STATS=1

fail() {
    echo "FAIL ($case_name): $*" >&2
    sed 's/^/  velmora stderr: /' "$work/err" >&2 2>/dev/null
    exit 1
}
start() { "$velmora" 2>"$work/err" & pid=$!; }
find_window() { xwininfo -root -tree 2>/dev/null | awk -v n="\"$1\":" '$2 == n {print $1; exit}'; }
window_id() { # waits up to 15 s for a top-level window called $1
    for _ in $(seq 150); do find_window "$1" | grep . && return 0; sleep 0.1; done
    return 1
}
running() { # the intro's window is up; SDL reports the focus about 200 ms later
    window=$(window_id Velmora) || fail "no Velmora window"
    sleep 1.5
    kill -0 "$pid" 2>/dev/null || fail "ended on its own"
}
ends_with() { # code [tenths of a second to wait, 100 unless given]
    for _ in $(seq "${2:-100}"); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "did not end"
    wait "$pid"
    local code=$?
    pid=""
    [ "$code" -eq "$1" ] || fail "exit code $code, expected $1"
}
stat() { # the value of one run statistic
    grep '^velmora stats:' "$work/err" | tail -1 | tr ' ' '\n' | awk -F= -v k="$1" '$1 == k {print $2}'
}
grab() { # file [width height]
    timeout -k 2 20 ffmpeg -nostdin -loglevel error -f x11grab -video_size "${2:-640}x${3:-480}" \
        -i "$DISPLAY" -frames:v 1 -f rawvideo -pix_fmt rgb24 -y "$1" || fail "screen grab failed"
}
covers() { # width height: the window lies exactly over the screen
    local geometry
    geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /Width:/ {w=$2} /Height:/ {h=$2} END {print x "," y " " w "x" h}')
    [ "$geometry" = "0,0 $1x$2" ] || fail "window at $geometry, not over the whole $1x$2 screen"
}
black() { # file offset bytes: all zero?
    [ "$(dd if="$1" bs=1 skip="$2" count="$3" 2>/dev/null | tr -d '\000' | wc -c)" -eq 0 ]
}
box_up() { # a window called $1 and the box's process (SDL shows boxes in a child)
    window_id "$1" >/dev/null || fail "no \"$1\" box"
    child() { awk -v p="$pid" '$4 == p {f=1} END {exit !f}' /proc/[0-9]*/stat 2>/dev/null; }
    for _ in $(seq 100); do child && sleep 0.3 && return 0; sleep 0.1; done
    fail "no process shows the \"$1\" box"
}
dismiss() { # the box called $1: Return until it has gone (a key may come too early)
    box_up "$1"
    for _ in $(seq 50); do
        [ -z "$(find_window "$1")" ] || ! kill -0 "$pid" 2>/dev/null && return 0
        xdotool key --window "$(find_window "$1")" Return 2>/dev/null
        sleep 0.2
    done
    fail "the \"$1\" box stayed"
}

case "$case_name" in
managed | *-managed)
    command -v evilwm >/dev/null || { echo "evilwm is not installed: skipped"; exit 77; }
    evilwm -fn fixed 2>"$work/wm.err" &
    helpers=$!
    wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
    for _ in $(seq 100); do wm_up && break; sleep 0.1; done
    wm_up || fail "the window manager did not start: $(cat "$work/wm.err")"
    ;;
esac
case "$case_name" in
quillon*)
    # No ALSA device, no PulseAudio or PipeWire server to find, no driver named.
    : >"$work/asound.conf"
    mkdir -p "$work/run"
    unset SDL_AUDIODRIVER
    export ALSA_CONFIG_PATH="$work/asound.conf" XDG_RUNTIME_DIR="$work/run" \
        PULSE_SERVER="unix:$work/run/none"
    ;;
no-gl21*) export MESA_GL_VERSION_OVERRIDE=2.0 ;;
esac

case "$case_name" in
escape | focus | sigterm | sigint | managed)
    grab "$work/empty.raw"
    # A non-interactive shell starts background commands with SIGINT ignored (and SDL
    # leaves an ignored signal alone); with job control they get it as a terminal would.
    set -m
    start
    running
    covers 640 480
    [ "$case_name" = managed ] && ! xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN &&
        fail "not full screen: $(xprop -id "$window" _NET_WM_STATE)"
    # Frames were drawn: the X server's background pattern is gone.
    grab "$work/drawn.raw"
    cmp -s "$work/empty.raw" "$work/drawn.raw" && fail "nothing was drawn"
    case "$case_name" in
    sigterm | sigint) kill -"${case_name#sig}" "$pid" ;;
    focus)
        xmessage -name other "another window" &
        helpers=$!
        other=$(window_id other) || fail "the other window did not appear"
        xdotool windowfocus --sync "$other" || fail "could not move the focus"
        ;;
    *) xdotool key Escape ;;
    esac
    ends_with 0
    grep -q "^Velmora:" "$work/err" && fail "a message was shown"
    [ "$(stat blocks-rendered)" -gt 100 ] 2>/dev/null || fail "no music was playing"
    [ "$(stat playing-at-exit)" = 0 ] || fail "the song still played at the exit"
    ;;
quillon | quillon-managed)
    start
    dismiss Quillon
    running
    # The picture still moves: the opening animates without music.
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
quillon-sigterm | no-gl21 | no-gl21-sigterm)
    box=Quillon code=0
    [ "${case_name%-sigterm}" = no-gl21 ] && box=Velmora code=1
    start
    if [ "$case_name" = no-gl21 ]; then
        dismiss Velmora
        ends_with 1
        grep -qx "Velmora: OpenGL 2.1 needed" "$work/err" || fail "no message on stderr"
    else
        box_up $box
        kill -TERM "$pid"
        ends_with $code 30
        [ -z "$(find_window $box)" ] || fail "the box is still up"
    fi
    ;;
scenes)
    start
    running
    sleep 42
    kill -0 "$pid" 2>/dev/null || fail "ended on its own"
    grab "$work/main.raw"
    # The background picture, the tube and the text column fill the screen in colour.
    read -r dark coloured <<<"$(od -An -v -tu1 -w3 "$work/main.raw" | awk '{
        m = $1; if ($2 > m) m = $2; if ($3 > m) m = $3
        n = $1; if ($2 < n) n = $2; if ($3 < n) n = $3
        if (m < 24) dark++; if (m - n > 40) coloured++
    } END {print dark + 0, coloured + 0}')"
    [ "$dark" -lt $((640 * 480 / 2)) ] && [ "$coloured" -ge $((640 * 480 / 10)) ] ||
        fail "the main scene is not on screen at 45 s (dark $dark, coloured $coloured)"
    xdotool key Escape
    ends_with 0
    ;;
fallback)
    if [ "${VELMORA_E2E_INSIDE:-}" != 1 ]; then
        export VELMORA_E2E_INSIDE=1 VELMORA_XVFB_SCREEN=1024x600x24
        exec "$(dirname "$0")/../scripts/with-xvfb" bash "$0" "$@"
    fi
    start
    running
    covers 1024 600
    # The 4:3 picture is 800 x 600 from x = 112; the bars either side are black.
    grab "$work/screen.raw" 1024 600
    for row in 0 299 599; do
        black "$work/screen.raw" $((row * 1024 * 3)) $((112 * 3)) || fail "left bar, row $row"
        black "$work/screen.raw" $(((row * 1024 + 912) * 3)) $((112 * 3)) || fail "right bar, row $row"
    done
    xdotool key Escape
    ends_with 0
    ;;
no-display | no-server)
    n=57 # a display number nobody serves
    while [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    [ "$case_name" = no-server ] && export DISPLAY=":$n" || unset DISPLAY WAYLAND_DISPLAY
    start
    ends_with 1
    grep -qx "Velmora: OpenGL 2.1 needed" "$work/err" || fail "no message on stderr"
    ;;
*) fail "unknown case" ;;
esac
echo "ok ($case_name)"
