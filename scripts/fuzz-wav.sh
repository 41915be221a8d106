#!/usr/bin/env bash
# Fuzzes the WAV reader for SECONDS (default 60):
#
#   scripts/fuzz-wav.sh [SECONDS]
#
# Builds fuzz/fuzz_wavfile.cpp with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, seeds it with the WAV files of
# the tests, and exits non-zero when the fuzzer finds a crash, a leak,
# undefined behaviour, a broken check of the target, a single allocation over
# 64 MiB or an input that takes over 10 s. The input that did it is kept in
# build-fuzz/artifacts/; run build-fuzz/fuzz_wavfile on it to reproduce.
# Inputs found on the way are kept in build-fuzz/corpus/ for the next run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
out=$root/build-fuzz
binary=$out/fuzz_wavfile
sources=("$root/wav/WavFile.cpp" "$root/fuzz/fuzz_wavfile.cpp")

if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing: run scripts/setup.sh --tests" >&2
  exit 2
fi

mkdir -p "$out/corpus" "$out/seeds" "$out/artifacts"
stale=0
for file in "${sources[@]}" "$root/wav/WavFile.h" "${BASH_SOURCE[0]}"; do
  [[ -x $binary && $binary -nt $file ]] || stale=1
done
if [[ $stale -eq 1 ]]; then
  echo "Building $binary"
  # The reader is plain C++, so it is compiled here on its own: no Qt, and
  # every line of it instrumented for coverage and the sanitizers. Unsigned
  # overflow is not undefined behaviour, but in arithmetic on sizes from a
  # file it is a fault all the same, so it is trapped as well.
  clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer -Wall -Wextra -Werror \
    -fsanitize=fuzzer,address,undefined,unsigned-integer-overflow \
    -fno-sanitize-recover=all -I"$root" "${sources[@]}" -o "$binary"
fi

# Seeds: every WAV file of the tests, valid or not, flattened into one folder.
find "$root/tests/data/wav" -name '*.wav' -type f -exec cp -t "$out/seeds" {} +

# The first folder collects new inputs; the seeds are only read. Inputs are at
# most 64 KiB, so an allocation of 64 MiB means a size from the file was
# believed.
status=0
"$binary" "$out/corpus" "$out/seeds" \
  -max_total_time="$seconds" -max_len=65536 -malloc_limit_mb=64 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$out/artifacts/" -print_final_stats=1 2>&1 | tee "$out/fuzz.log" || status=$?

if [[ $status -ne 0 ]]; then
  echo "The WAV reader's fuzzer failed (status $status); see $out/fuzz.log and $out/artifacts/." >&2
fi
exit $status
