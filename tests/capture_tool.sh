#!/usr/bin/env bash
# velmora-capture as a user runs it. Usage: capture_tool.sh CASE TOOL, CASE one of
#   refusals    bad arguments, unwritable outputs (found before or after start-up),
#               --out without ffmpeg: code 1, one line on stderr, nothing written
#   interrupt   Ctrl+C in the middle of a capture: code 1, no folder left
#   determinism two captures give the same PNG and WAV bytes (opening, main scene)
#   video       an H.264 + AAC MP4 of the right length, the same file again from a
#               second capture (skipped, code 77, without ffmpeg and ffprobe)
set -u
case=$1
tool=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() {
    echo "FAIL ($case): $*" >&2
    exit 1
}

# Everything in the working folder but the files the checks themselves make.
leftovers() { ls -A | grep -v -x -e out -e err -e keep || true; }

# The tool refuses: exit code 1, exactly one line on stderr, nothing left behind.
run=("$tool")
expect_refusal() {
    "${run[@]}" "$@" >out 2>err
    local rc=$?
    [ $rc -eq 1 ] || fail "$*: exit code $rc, stderr: $(cat err)"
    [ "$(wc -l <err)" -eq 1 ] || fail "$*: not one line on stderr: $(cat err)"
    grep -q '^velmora-capture: ' err || fail "$*: unexpected message: $(cat err)"
    [ ! -s out ] || fail "$*: wrote to stdout"
    [ -z "$(leftovers)" ] || fail "$*: left $(leftovers)"
}

case $case in
refusals)
    expect_refusal --fps 0 --frames frames # the command line's rules are the unit tests' part
    echo x >keep
    expect_refusal --seconds 1 --frames keep
    expect_refusal --seconds 1 --out missing/intro.mp4
    # Nothing can be made in /proc, not even by root (whose permission checks pass,
    # so this failure comes after start-up, when the folder is made).
    expect_refusal --seconds 1 --fps 10 --frames /proc/velmora-capture-test
    run=(env PATH=/nonexistent "$tool")
    expect_refusal --seconds 1 --out intro.mp4
    grep -q 'ffmpeg.*--frames' err || fail "no hint at --frames: $(cat err)"
    ;;
interrupt)
    "$tool" --seconds 30 --fps 30 --frames frames 2>err &
    pid=$!
    # Until the capture is under way (its progress has moved past 0 %).
    for _ in $(seq 1 300); do
        grep -q ' [1-9]0%' err 2>/dev/null && break
        sleep 0.1
    done
    [ -d frames ] || fail "no frames folder while capturing"
    kill -INT $pid
    wait $pid
    rc=$?
    [ $rc -eq 1 ] || fail "exit code $rc after Ctrl+C"
    tail -n 1 err | grep -q 'interrupted' || fail "no message: $(tail -n 1 err)"
    [ -z "$(leftovers)" ] || fail "left $(leftovers)"
    ;;
determinism)
    for run in a b; do
        "$tool" --seconds 2 --fps 30 --frames "opening-$run" 2>/dev/null || fail "opening capture $run"
        "$tool" --at 37.5,38 --fps 20 --frames "scene-$run" 2>/dev/null || fail "scene capture $run"
    done
    [ "$(ls opening-a | wc -l)" -eq 61 ] || fail "opening: $(ls opening-a | wc -l) files, not 61"
    [ "$(ls scene-a)" = "$(printf 'frame-000750.png\nframe-000760.png')" ] ||
        fail "scene: $(ls scene-a)"
    # 2 s of 44100 Hz 16-bit stereo after the 44-byte header.
    [ "$(stat -c %s opening-a/audio.wav)" -eq $((44 + 2 * 44100 * 4)) ] || fail "WAV size"
    for folder in opening scene; do
        [ "$(ls $folder-a)" = "$(ls $folder-b)" ] || fail "$folder: different files"
        for f in $folder-a/*; do
            cmp -s "$f" "$folder-b/${f#*/}" || fail "$folder: ${f#*/} differs"
        done
    done
    # The opening's letters really change and the main scene is not black.
    cmp -s opening-a/frame-000030.png opening-a/frame-000059.png && fail "opening stands still"
    [ "$(stat -c %s scene-a/frame-000750.png)" -gt 100000 ] || fail "scene frame too plain"
    ;;
video)
    command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || exit 77
    "$tool" --seconds 2 --fps 30 --out intro.mp4 2>err || fail "exit code $?: $(tail -n 1 err)"
    [ "$(leftovers)" = "intro.mp4" ] || fail "left $(leftovers)"
    streams=$(ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,sample_rate,channels,nb_frames \
        -of default=noprint_wrappers=1 intro.mp4)
    for want in codec_name=h264 width=640 height=480 nb_frames=60 codec_name=aac sample_rate=44100 channels=2; do
        grep -q -x "$want" <<<"$streams" || fail "no $want in: $streams"
    done
    duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 intro.mp4)
    awk -v d="$duration" 'BEGIN { exit !(d > 1.95 && d < 2.1) }' || fail "duration $duration"
    # ffmpeg's encoders are deterministic too: a second capture gives the same file.
    "$tool" --seconds 2 --fps 30 --out again.mp4 2>err || fail "second capture: $(tail -n 1 err)"
    cmp -s intro.mp4 again.mp4 || fail "two captures differ"
    ;;
*)
    fail "unknown case"
    ;;
esac
exit 0
