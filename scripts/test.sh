#!/usr/bin/env bash
# Sets up, builds and runs every test:
#   1. the Release build (Qt 5) with all tests, under a private headless
#      audio server (PulseAudio), then the audio tests once more through a
#      private PipeWire, as desktops set it up (the graph at 48 kHz only,
#      a 1024-sample cycle, 44.1 kHz stimuli resampled), and its Debian
#      package, checked for its contents;
#   2. the same tests built with AddressSanitizer, LeakSanitizer and
#      UndefinedBehaviorSanitizer;
#   3. a short run of the WAV reader's fuzzer;
#   4. with --qt6, the Release build against Qt 6 and all tests once more.
# Exits non-zero if anything fails; stops everything it started.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

qt6=false
for option in "$@"; do
  case $option in
  --qt6) qt6=true ;;
  *) echo "usage: $0 [--qt6]" >&2; exit 2 ;;
  esac
done

if $qt6; then scripts/setup.sh --tests --qt6; else scripts/setup.sh --tests; fi
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
status=0
started=$(date +%s)
step() { echo; echo "== $* ($(( $(date +%s) - started )) s)"; }
# The audio tests through PipeWire: its own engine, with the graph at the
# stream's rate (the engine's own checks), then at 48 kHz only with a
# 1024-sample cycle and 44.1 kHz stimuli (the end-to-end runs, and the
# loop-back check through the output's monitor).
pipewire_tests() {
  local s=0
  scripts/with-pipewire.sh ctest --test-dir "$1" --output-on-failure -R '^tst_playback$' || s=1
  RATES=48000 QUANTUM=1024 TARQUEL_TEST_STIMULUS_RATE=44100 TARQUEL_TEST_SINK_RATE=48000 \
    scripts/with-pipewire.sh ctest --test-dir "$1" --output-on-failure -R '^(tst_endtoend|tst_timingcheck)$' || s=1
  return $s
}

step "Release build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DTARQUEL_QT_VERSION=5 >/dev/null
cmake --build build -j"$jobs"

step "Tests"
scripts/with-audio-server.sh ctest --test-dir build --output-on-failure || status=1

step "Tests through PipeWire"
pipewire_tests build || status=1

step "Debian package"
scripts/check-package.sh build || status=1

step "Sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARQUEL_SANITIZE=ON -DBUILD_TESTING=ON -DTARQUEL_QT_VERSION=5 >/dev/null
cmake --build build-asan -j"$jobs"

step "Tests under the sanitizers"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:fast_unwind_on_malloc=0" \
LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  scripts/with-audio-server.sh ctest --test-dir build-asan --output-on-failure || status=1
ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:fast_unwind_on_malloc=0" \
LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  pipewire_tests build-asan || status=1

if [[ -x scripts/fuzz-wav.sh ]]; then
  step "Fuzzing the WAV reader"
  scripts/fuzz-wav.sh 60 || status=1
fi

if $qt6; then
  step "Release build against Qt 6"
  cmake -S . -B build-qt6 -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DTARQUEL_QT_VERSION=6 \
    -DTARQUEL_BUILD_BENCH=OFF >/dev/null
  cmake --build build-qt6 -j"$jobs"
  step "Tests against Qt 6"
  scripts/with-audio-server.sh ctest --test-dir build-qt6 --output-on-failure || status=1
fi

step "Done"
if [[ $status -ne 0 ]]; then
  echo "Some tests failed."
fi
exit $status
