#!/usr/bin/env bash
# Takes the README's screenshots (docs/*.png) from the real program under a
# virtual X display, with the example stimuli.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/setup.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build build --target tarquel_screenshots -j"$(nproc)"
mkdir -p docs
scripts/with-audio-server.sh \
  xvfb-run -a -s "-screen 0 1600x1000x24" build/tarquel_screenshots "$root/examples" "$root/docs"
# The listener's window full screen on a second screen (two X screens).
shots=$(mktemp -d)
scripts/with-audio-server.sh \
  xvfb-run -a -s "-screen 0 1600x1000x24 -screen 1 1024x768x24" \
  build/tarquel_screenshots "$root/examples" "$shots" --listener-on-second-screen
cp "$shots/listener-second-screen.png" docs/
rm -rf "$shots"
