#!/bin/sh
# Makes the WAV files of the stimulus tests in this folder and, beside the
# files whose samples a test compares, NAME.f64: the first channel as sox
# itself decodes it (raw little-endian doubles).
#
#   tests/data/stimuli/make.sh
#
# Needs sox. The outputs are committed, so the tests themselves do not.
set -eu

out=$(cd "$(dirname "$0")" && pwd)
cd "$out"

# "-r RATE -n" runs the generator at the output rate, so nothing is
# resampled; "Ns" is a length in samples per channel; -R makes the noise
# repeatable and -D leaves out the dither.
gen() { # name rate channels frames synth-arguments...
    name=$1 rate=$2 channels=$3 frames=$4
    shift 4
    sox -R -D -V1 -r "$rate" -n -e signed-integer -b 16 -c "$channels" "$name.wav" synth "${frames}s" "$@"
}

# Overwrites bytes of a file at an offset; the bytes are octal escapes.
patch() { # file offset bytes
    printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

# Usable stimuli. Trial sounds of different lengths, one session.
gen short-4000 40000 1 4000 sine 500 gain -6
gen long-12000 40000 1 12000 whitenoise gain -3
# The channels differ, so that taking the wrong one shows.
gen stereo-3000 40000 2 3000 sine 440 whitenoise gain -3
# Other rates.
gen rate-44100 44100 1 2205 sine 441
gen rate-48000 48000 1 2400 sine 480
# The shortest stimulus: 2 samples.
gen two-samples 40000 1 2 whitenoise

# Unusable ones. All but the first four are made from a canonical 16-bit mono
# file: rate at byte 24, channels at 22, format code at 20, data length at 40.
gen three-channels 40000 3 100 sine 440
gen one-sample 40000 1 1 whitenoise
sox -R -D -V1 -r 40000 -n -e floating-point -b 32 -c 1 float.wav synth 100s sine 440
head -c 1000 short-4000.wav >cut-short.wav

gen base 40000 1 100 whitenoise
cp base.wav zero-channels.wav && patch zero-channels.wav 22 '\000\000'
cp base.wav zero-rate.wav && patch zero-rate.wav 24 '\000\000\000\000'
# 800000 Hz = 0x000C3500
cp base.wav rate-800000.wav && patch rate-800000.wav 24 '\000\065\014\000'
# Format code 2: a compressed (ADPCM) tag on PCM bytes.
cp base.wav adpcm-tag.wav && patch adpcm-tag.wav 20 '\002\000'
# Frames of 4 bytes announced for 16-bit mono.
cp base.wav wide-frames.wav && patch wide-frames.wav 32 '\004\000'
# A header with an empty data chunk.
head -c 44 base.wav >no-samples.wav && patch no-samples.wav 40 '\000\000\000\000'
rm base.wav

for f in short-4000 long-12000 stereo-3000; do
    sox "$f.wav" -t f64 -e floating-point "$f.f64" remix 1
done
