#!/usr/bin/env bash
# Main-scene frames per second of the web build in headless Chromium (software WebGL),
# paced and unpaced (see web_fps.js), beside the native build's figure from the same
# run (scene_fps_bench on Mesa's software OpenGL under Xvfb). Both draw on this
# machine's processors only.
#   bench/web_fps.sh [NATIVE_BUILD_DIR [SITE_DIR]]
# Defaults: build/release (with scene_fps_bench built) and build/web (scripts/build-web).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
site=${2:-build/web}
bench=$build/bench/scene_fps_bench
[ -x "$bench" ] || { echo "web_fps: $bench is missing (cmake --build $build --target scene_fps_bench)" >&2; exit 1; }
[ -f "$site/index.html" ] || { echo "web_fps: no site in $site (scripts/build-web)" >&2; exit 1; }
[ -d tests/web/node_modules ] || (cd tests/web && npm ci --no-audit --no-fund >/dev/null)

# The native figure: the median of scene_fps_bench's repetitions of whole frames.
native=$(scripts/with-xvfb "$bench" --benchmark_filter='BM_MainSceneFps/' \
    --benchmark_format=json 2>/dev/null |
    node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>{
      const runs=JSON.parse(s).benchmarks;
      const run=runs.find(b=>b.aggregate_name==="median")||runs.find(b=>b.fps!==undefined);
      console.log(run?run.fps.toFixed(1):"none");})')
paced=$(node bench/web_fps.js --site "$site" --mode paced | awk '/^web_fps/ {print $2}')
unpaced=$(node bench/web_fps.js --site "$site" --mode unpaced | awk '/^web_fps/ {print $2}')
echo "main scene, frames per second: web (headless Chromium) $paced of the browser's 60 paced," \
     "$unpaced unpaced with a wait for each frame; native (OpenGL device) $native"
