#!/usr/bin/env bash
# Measuring run of answer timing (tools/answer_timing.cpp): practice runs of
# the real program answered with real X input (XTEST) on a virtual X display
# of its own, through an audio server whose output is recorded.
#
#   scripts/measure-answer-timing.sh [runs per input, default 2]
#
# Through the audio server PULSE_SERVER names (PipeWire's pulse server, for
# one) when it is set, otherwise through a private PulseAudio
# (scripts/with-audio-server.sh). Through the desktop's own PipeWire set-up,
# where the 40 kHz sounds are resampled:
#   RATES=48000 QUANTUM=1024 TARQUEL_TEST_SINK_RATE=48000 \
#     scripts/with-pipewire.sh scripts/measure-answer-timing.sh
# TARQUEL_ANSWER_TIMES=window-system measures the window system's whole
# milliseconds instead of the raw events. Builds the
# measuring program in build/ (Release) first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if [[ ! -f build/CMakeCache.txt ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
fi
cmake --build build --target tarquel_answer_timing -j"$(nproc)"

measure=(xvfb-run -a -s "-screen 0 1280x1024x24"
  env QT_QPA_PLATFORM=xcb build/tarquel_answer_timing "${1:-2}")
if [[ -n "${PULSE_SERVER:-}" ]]; then
  "${measure[@]}"
else
  scripts/with-audio-server.sh "${measure[@]}"
fi
