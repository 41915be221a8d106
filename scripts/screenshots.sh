#!/usr/bin/env bash
# Takes the README's screenshots (docs/*.png) from the real program under a
# virtual X display, with the example stimuli copied where a lab would keep
# them: a folder in an ordinary home folder (/home/lab when it can be made,
# the user's own home otherwise), which is also the home the program sees.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/setup.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build build --target tarquel_screenshots -j"$(nproc)"
mkdir -p docs

home=/home/lab
mkdir -p "$home" 2>/dev/null || home=$HOME
stimuli="$home/stimuli/tone-steps"
mkdir -p "$stimuli" "$home/Desktop"
cp examples/*.wav "$stimuli/"

HOME="$home" scripts/with-audio-server.sh \
  xvfb-run -a -s "-screen 0 1600x1000x24" build/tarquel_screenshots "$stimuli" "$root/docs"
# The listener's window full screen on a second screen (two X screens).
shots=$(mktemp -d)
HOME="$home" scripts/with-audio-server.sh \
  xvfb-run -a -s "-screen 0 1600x1000x24 -screen 1 1024x768x24" \
  build/tarquel_screenshots "$stimuli" "$shots" --listener-on-second-screen
cp "$shots/listener-second-screen.png" docs/
rm -rf "$shots"
