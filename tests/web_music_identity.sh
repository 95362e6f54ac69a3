#!/usr/bin/env bash
# The player built to WebAssembly, run under node, against the native build: both
# render the embedded module (assets/data/module.bin: a byte count, then the XM file)
# for one whole pass through the song, and the two WAV files must be byte-identical.
#   web_music_identity.sh NODE WEB_RENDER_JS NATIVE_RENDER MODULE_BIN
set -euo pipefail
node=$1 web=$2 native=$3 image=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=$(od -An -tu4 -N4 "$image" | tr -d ' ')
tail -c +5 "$image" | head -c "$count" >"$work/module.xm"
timeout 120 "$native" "$work/module.xm" "$work/native.wav" >/dev/null
timeout 300 "$node" "$web" "$work/module.xm" "$work/web.wav" >/dev/null
# Under node the file permissions the tool asks for are not emulated: it may come out
# unreadable to anyone but root.
chmod u+r "$work/web.wav"
frames=$(( ($(stat -c %s "$work/native.wav") - 44) / 4 ))
if ! cmp "$work/native.wav" "$work/web.wav"; then
    echo "the WebAssembly player's render differs from the native one" >&2
    exit 1
fi
echo "byte-identical: $frames frames ($((frames / 44100)) s), md5 $(md5sum <"$work/web.wav" | cut -c1-32)"
