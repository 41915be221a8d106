#!/usr/bin/env bash
# The measuring runs behind docs/audio-timing.md: the end-to-end test (a
# practice run of 9 and an experiment run of 200 trials answered by clicks,
# and a run whose output device stalls for 1 s after the 4th answer) through
# each server set-up a lab meets, with what the server played recorded by a
# pipe sink; then the loop-back check through the output's monitor, four
# times per server (the figures of docs/running-a-lab.md). Prints, per
# set-up, the test's lines that compare the journal with the recording, and
# the check's results. Run it on an idle machine after a Release build:
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
# The loop-back check through the output's monitor, on the two servers.
check() {
  local label=$1; shift
  echo "== Loop-back check, $label"
  for _ in 1 2 3 4; do
    "$@" "$build/tests/tst_timingcheck" checkThroughTheMonitor 2>&1 |
      grep -E 'Loop-back check: output|FAIL' | sed -E 's/^.*Loop-back check: //'
  done
}
check "PulseAudio, null sink at 40 kHz, 40 kHz clicks" "$root/scripts/with-audio-server.sh"
RATES=48000 QUANTUM=1024 TARQUEL_TEST_STIMULUS_RATE=44100 \
  check "PipeWire, graph at 48 kHz only, cycle 1024, 44.1 kHz clicks" "$root/scripts/with-pipewire.sh"
