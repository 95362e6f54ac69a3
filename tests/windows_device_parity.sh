#!/usr/bin/env bash
# Device parity: the same four moments (8, 33.7, 36 and 70 s; the capture's fixed
# counter start seeds the random generator alike) drawn through the Direct3D 8 device
# by velmora-capture.exe under Wine (inside scripts/with-xvfb, Mesa's llvmpipe) and
# through the OpenGL device by the Linux velmora-capture. For every moment the mean
# difference of each channel must stay within 1 level and 99.5 % of the pixels within
# 8 levels (picture_difference, run under Wine as well).
# Usage: windows_device_parity.sh HOST_BUILD WINE WINESERVER CAPTURE_EXE DIFFERENCE_EXE OUT_DIR
# HOST_BUILD is a Linux build tree with tools/capture/velmora-capture; without one the
# test is skipped (code 77). The pictures stay in OUT_DIR/opengl and OUT_DIR/direct3d8.
# Both tools draw at 10 frames a second: every frame up to the last moment is drawn,
# and Wine on a software renderer draws the main scene slowly; the moments themselves
# are whole frames at that rate.
set -u
host=$1 wine=$2 wineserver=$3 capture=$4 difference=$5 out=$6
native="$host/tools/capture/velmora-capture"
if [ -z "$host" ] || [ ! -x "$native" ]; then
    echo "skipped: no Linux build with velmora-capture to compare with" >&2
    exit 77
fi
trap 'timeout -k 2 20 "$wineserver" -k 2>/dev/null' EXIT
export WINEDEBUG=${WINEDEBUG:--all}
moments=8,33.7,36,70
frames=(frame-000080.png frame-000337.png frame-000360.png frame-000700.png)
rm -rf "$out" && mkdir -p "$out" || exit 1

timeout -k 5 120 "$native" --fps 10 --at $moments --frames "$out/opengl" 2>"$out/opengl.log" || {
    cat "$out/opengl.log" >&2
    echo "FAIL: the Linux capture failed" >&2
    exit 1
}
# A home without a sound card: the capture's wave output is virtual anyway.
mkdir -p "$out/home"
HOME="$out/home" timeout -k 5 300 "$wine" "$capture" --fps 10 --at $moments \
    --frames "$out/direct3d8" 2>"$out/direct3d8.log" || {
    tr -d '\r' <"$out/direct3d8.log" | grep -v '^ALSA lib' >&2
    echo "FAIL: the Windows capture failed" >&2
    exit 1
}

failed=0
for frame in "${frames[@]}"; do
    timeout -k 5 60 "$wine" "$difference" "$out/opengl/$frame" "$out/direct3d8/$frame" \
        >"$out/difference.txt" 2>&1
    code=$?
    echo "$frame: $(tr -d '\r' <"$out/difference.txt")"
    [ "$code" -eq 0 ] || failed=1
done
[ $failed -eq 0 ] || echo "FAIL: the devices draw these moments differently" >&2
exit $failed
