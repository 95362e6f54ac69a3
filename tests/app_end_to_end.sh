#!/usr/bin/env bash
# The built intro end to end inside an X server. Usage: app_end_to_end.sh CASE VELMORA
# Cases: escape, focus, sigterm (each ends with code 0 and no message), quillon (no
# sound output: the box, then it runs on), fallback (a 1024 x 600 screen without a
# 640 x 480 mode), managed (under a window manager, evilwm: full screen all the same;
# exit code 77, skipped, where evilwm is missing), no-display (code 1 and the message
# on stderr).
set -u
case_name=$1
velmora=$2
work=$(mktemp -d)
pid="" helper=""
trap 'kill -KILL $pid $helper 2>/dev/null; rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

fail() {
    echo "FAIL ($case_name): $*" >&2
    sed 's/^/  velmora stderr: /' "$work/err" >&2 2>/dev/null
    exit 1
}
start() { "$velmora" 2>"$work/err" & pid=$!; }
window_id() { # waits up to 15 s for a top-level window called $1
    for _ in $(seq 150); do
        xwininfo -root -tree 2>/dev/null | awk -v n="\"$1\":" '$2 == n {print $1; f=1; exit} END {exit !f}' &&
            return 0
        sleep 0.1
    done
    return 1
}
running() { # the intro's window is up; SDL reports the focus about 200 ms later
    window=$(window_id Velmora) || fail "no Velmora window"
    sleep 1.5
    kill -0 "$pid" 2>/dev/null || fail "ended on its own"
}
ends_with() { # code; waits up to 10 s
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "did not end"
    wait "$pid"
    local code=$?
    pid=""
    [ "$code" -eq "$1" ] || fail "exit code $code, expected $1"
}
grab() { # file width height
    timeout -k 2 20 ffmpeg -nostdin -loglevel error -f x11grab -video_size "$2x$3" -i "$DISPLAY" \
        -frames:v 1 -f rawvideo -pix_fmt rgb24 -y "$1" || fail "screen grab failed"
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

case "$case_name" in
escape | focus | sigterm)
    grab "$work/empty.raw" 640 480
    start
    running
    covers 640 480
    # Frames were drawn: the X server's background pattern is gone.
    grab "$work/drawn.raw" 640 480
    cmp -s "$work/empty.raw" "$work/drawn.raw" && fail "nothing was drawn"
    case "$case_name" in
    escape) xdotool key Escape ;;
    sigterm) kill -TERM "$pid" ;;
    focus)
        xmessage -name other "another window" &
        helper=$!
        other=$(window_id other) || fail "the other window did not appear"
        xdotool windowfocus --sync "$other" || fail "could not move the focus"
        ;;
    esac
    ends_with 0
    grep -q "^Velmora:" "$work/err" && fail "a message was shown"
    ;;
quillon)
    SDL_AUDIODRIVER=no-such-driver start
    # The box shows where the X server has the fonts SDL needs (xfonts-base).
    if box=$(window_id Quillon); then
        sleep 0.3
        xdotool key --window "$box" Return
    fi
    running
    xdotool key Escape
    ends_with 0
    grep -qx "Quillon: Error during initialization of Quillon" "$work/err" || fail "not reported"
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
managed)
    command -v evilwm >/dev/null || { echo "evilwm is not installed: skipped"; exit 77; }
    grab "$work/empty.raw" 640 480
    evilwm -fn fixed 2>"$work/wm.err" &
    helper=$!
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" ||
        fail "the window manager did not start: $(cat "$work/wm.err")"
    start
    running
    # Full screen through the window manager: no frame, no offset.
    covers 640 480
    xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN ||
        fail "not full screen: $(xprop -id "$window" _NET_WM_STATE)"
    grab "$work/drawn.raw" 640 480
    cmp -s "$work/empty.raw" "$work/drawn.raw" && fail "nothing was drawn"
    xdotool key Escape
    ends_with 0
    grep -q "^Velmora:" "$work/err" && fail "a message was shown"
    ;;
no-display)
    env -u DISPLAY -u WAYLAND_DISPLAY "$velmora" 2>"$work/err" &
    pid=$!
    ends_with 1
    grep -qx "Velmora: OpenGL 2.1 needed" "$work/err" || fail "no message on stderr"
    ;;
*) fail "unknown case" ;;
esac
echo "ok ($case_name)"
