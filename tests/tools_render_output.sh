#!/usr/bin/env bash
# velmora-render's output paths: a regular file (also behind a symbolic link) is
# replaced whole, a device or a FIFO is written directly and stays what it is, "-"
# streams a WAV whose header already has the exact length, a folder or a missing
# folder is refused before rendering, and a reader that goes away ends the render
# with code 1 and no temporary file left. Usage: tools_render_output.sh RENDER MODULE_BIN
set -u
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
tail -c +5 "$2" >m.xm # the embedded module after its byte count
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
exact() { # file frames: a WAV of that many frames whose header says so
    local size=$((44 + $2 * 4))
    [ "$(stat -c %s "$1")" = "$size" ] && [ "$(le32 "$1" 40)" = $(($2 * 4)) ] &&
        [ "$(le32 "$1" 4)" = $((size - 8)) ] || fail "$1 is not an exact WAV of $2 frames"
}
run() { timeout -k 5 60 "$render" "$@" 2>err; }

# A regular file, replaced with its permissions kept; a link to one keeps linking to it.
echo old >out.wav && chmod 640 out.wav
run --seconds 1 m.xm out.wav >/dev/null || fail "regular file: $(cat err)"
exact out.wav 44100
[ "$(stat -c %a out.wav)" = 640 ] || fail "permissions not kept"
ln -s out.wav link.wav
run --seconds 0.5 m.xm link.wav >/dev/null || fail "link: $(cat err)"
[ -L link.wav ] || fail "the link was replaced"
exact out.wav 22050

# A device (through a link, so the test never touches /dev itself), and a FIFO.
ln -s /dev/null null.wav
run --seconds 1 m.xm null.wav >/dev/null || fail "/dev/null: $(cat err)"
[ -L null.wav ] && [ -c /dev/null ] || fail "/dev/null was replaced"
mkfifo fifo.wav
timeout 60 cat fifo.wav >from-fifo.wav &
run --seconds 1 m.xm fifo.wav >/dev/null || fail "FIFO: $(cat err)"
wait
[ -p fifo.wav ] || fail "the FIFO was replaced"
run --seconds 1 m.xm out.wav >/dev/null && cmp -s out.wav from-fifo.wav || fail "FIFO data differ"

# Standard output: one pass, whose length the header knows before the first sample.
run m.xm - | cat >piped.wav
code=${PIPESTATUS[0]}
[ "$code" = 0 ] || fail "standard output: code $code, $(cat err)"
frames=$(($(stat -c %s piped.wav) / 4 - 11))
[ "$frames" -gt $((150 * 44100)) ] || fail "one pass is only $frames frames"
exact piped.wav "$frames"

# Refused before rendering: one line, code 1, nothing printed or created.
for target in . nowhere/x.wav; do
    run m.xm "$target" >report
    code=$?
    [ $code = 1 ] && [ "$(wc -l <err)" = 1 ] && [ ! -s report ] ||
        fail "$target: code $code, report $(cat report), error $(cat err)"
done
[ ! -e nowhere ] || fail "a folder was created"

# The reader goes away (of the report, or of the WAV): code 1, no temporary file.
for target in out.wav -; do
    run m.xm $target | head -c 100 >/dev/null
    code=${PIPESTATUS[0]}
    [ "$code" = 1 ] || fail "$target: code $code into a closed pipe"
done
ls ./*.part* 2>/dev/null && fail "temporary files left"
exit $failed
