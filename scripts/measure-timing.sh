#!/usr/bin/env bash
# The measuring runs behind docs/audio-timing.md: the end-to-end test (a
# practice run of 9 and an experiment run of 200 trials answered by clicks,
# and a run whose output device stalls for 1 s after the 4th answer) through
# each server set-up a lab meets, with what the server played recorded by a
# pipe sink. Prints, per set-up, the test's lines that compare the journal
# with the recording. Run it on an idle machine after a Release build:
#
#   bash scripts/measure-timing.sh [build folder]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
export QT_QPA_PLATFORM=offscreen
run() {
  local label=$1; shift
  echo "== $label"
  "$@" "$build/tests/tst_endtoend" 2>&1 |
    grep -E 'QINFO.*(practice|experiment|stall): |FAIL|Totals' | sed -E 's/^QINFO  : MainWindowTester::[a-zA-Z]+\(\) //'
}
run "PulseAudio, sink at 40 kHz, 40 kHz stimuli" "$root/scripts/with-audio-server.sh"
TARQUEL_TEST_SINK_RATE=48000 run "PulseAudio, sink at 48 kHz, 40 kHz stimuli" "$root/scripts/with-audio-server.sh"
RATES=40000 QUANTUM=256 run "PipeWire, graph at 40 kHz, cycle 256, 40 kHz stimuli" "$root/scripts/with-pipewire.sh"
for quantum in 256 1024 2048; do
  for rate in 40000 44100; do
    RATES=48000 QUANTUM=$quantum TARQUEL_TEST_STIMULUS_RATE=$rate TARQUEL_TEST_SINK_RATE=48000 \
      run "PipeWire, graph at 48 kHz only, cycle $quantum, $rate Hz stimuli" "$root/scripts/with-pipewire.sh"
  done
done
