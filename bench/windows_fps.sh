#!/usr/bin/env bash
# Main-scene frames per second of the Windows build under Wine (Direct3D 8 through
# Wine on Mesa's llvmpipe, inside scripts/with-xvfb) beside the Linux build's figure
# from the same run (scene_fps_bench, the OpenGL device on llvmpipe under Xvfb). Both
# draw on this machine's processors only, so the figures compare the two device paths.
#   bench/windows_fps.sh [LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]]
# Defaults: build/release (with scene_fps_bench built) and build/windows (with
# scene_fps_windows built: cmake --build build/windows --target scene_fps_windows).
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build/release}
windows=${2:-build/windows}
native=$linux/bench/scene_fps_bench
exe=$windows/scene_fps_windows.exe
[ -x "$native" ] || { echo "windows_fps: $native is missing" >&2; exit 1; }
[ -f "$exe" ] || { echo "windows_fps: $exe is missing" >&2; exit 1; }
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX=${WINEPREFIX:-$PWD/$windows/wine-prefix} WINEDEBUG=-all
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# No sound card is needed: the benchmarks' wave output is virtual.
echo 'pcm.!default { type null }' >"$work/.asoundrc"

d3d8=$(HOME="$work" timeout -k 5 300 scripts/with-xvfb "$wine" "$exe" 2>/dev/null | tr -d '\r' |
    sed -n 's/^main scene (Direct3D 8): \([0-9.]*\) frames per second.*CPU \([0-9.]*\) ms.*/\1 fps, \2 ms CPU a frame/p')
opengl=$(timeout -k 5 300 scripts/with-xvfb "$native" --benchmark_filter='BM_MainSceneFps/' \
    --benchmark_repetitions=1 2>/dev/null |
    awk '/BM_MainSceneFps/ {
        for (i = 1; i <= NF; ++i) {
            if ($i ~ /^fps=/) { sub("fps=", "", $i); sub("/s", "", $i); fps = $i }
            if ($i ~ /^process_cpu_ms=/) { sub("process_cpu_ms=", "", $i); cpu = $i }
        }
        printf "%s fps, %s ms CPU a frame\n", fps, cpu; exit }')
echo "main scene: Windows (Direct3D 8 under Wine) ${d3d8:-none};" \
    "Linux (OpenGL device) ${opengl:-none}"
