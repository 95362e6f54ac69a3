#!/usr/bin/env bash
# The same music on every platform: the first two minutes of the embedded module,
# rendered by the Linux build's music_pcm_dump and by another platform's build of it,
# run through RUNNER (wine for Windows, node for the web), must agree byte for byte.
# Usage: music_identity.sh LINUX_BUILD_DIR RUNNER MUSIC_PCM_DUMP
# Exit code 77 (skipped) when there is no Linux build to compare with.
set -u
host_build=$1 runner=$2 other_dump=$3
seconds=120
host_dump=$host_build/tests/music_pcm_dump
if [ -z "$host_build" ] || [ ! -x "$host_dump" ]; then
    echo "no Linux music_pcm_dump (in '$host_build'): skipped"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
timeout -k 5 60 "$host_dump" $seconds "$work/linux.pcm" || { echo "FAIL: the Linux render failed"; exit 1; }
timeout -k 5 150 "$runner" "$other_dump" $seconds "$work/other.pcm" ||
    { echo "FAIL: the render through $(basename "$runner") failed"; exit 1; }
expected=$((seconds * 44100 * 4))
size=$(stat -c %s "$work/other.pcm")
[ "$size" -eq "$expected" ] || { echo "FAIL: the other render has $size bytes, not $expected"; exit 1; }
if ! cmp "$work/linux.pcm" "$work/other.pcm"; then
    echo "FAIL: the renders differ (first difference above; 4 bytes a frame, 44100 frames a second)"
    exit 1
fi
echo "identical: $seconds s, $expected bytes, sha256 $(sha256sum <"$work/other.pcm" | cut -c1-16)"
