#!/bin/sh
# Makes the example stimulus folder examples/: seven synthetic syllables, the
# vowel /a/ on a pitch glide that moves in equal steps from a rise (step1,
# like Mandarin tone 2) through a level tone (step4) to a fall (step7, like
# tone 4). Each is 250 ms, 10000 samples at 40000 Hz, 16-bit mono PCM.
#
#   scripts/make-examples.sh
#
# Needs sox. The outputs are committed; running the script again rewrites
# them byte for byte (no dither, no random numbers).
# Levels: every file has the same RMS level, -18 dBFS.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/examples
mkdir -p "$out"

rate=40000
frames=10000        # 250 ms at 40000 Hz
low=140             # Hz: where the rise starts and the fall ends
high=225            # Hz: where the rise ends and the fall starts
steps=7
rmsTarget=0.125     # RMS level of every file, full scale 1 (-18 dBFS)

tmp=$(mktemp --suffix=.wav)
trap 'rm -f "$tmp"' EXIT

i=1
while [ "$i" -le "$steps" ]; do
    # Start and end of the glide, interpolated in semitones (geometrically),
    # so that the steps are equal in pitch: step1 low -> high, step4 level at
    # the geometric mean, step7 high -> low.
    glide=$(awk -v i="$i" -v n="$steps" -v lo="$low" -v hi="$high" 'BEGIN {
        t = (i - 1) / (n - 1)
        start = lo * exp(t * log(hi / lo))
        end = hi * exp(t * log(lo / hi))
        # A sweep from a frequency to itself comes out silent: the level
        # step gets a plain frequency.
        if (sprintf("%.2f", start) == sprintf("%.2f", end))
            printf "%.2f", start
        else
            printf "%.2f:%.2f", start, end
    }')
    # "-r rate -n" runs the generator itself at the output rate (nothing is
    # resampled); ":" glides linearly in Hz (sox's "/" sweep, equal semitones
    # per second, turns a falling sawtooth into a constant). A sawtooth has
    # every harmonic, like glottal pulses; three resonances near 700, 1200
    # and 2600 Hz shape them into /a/. A 20 ms onset and a 50 ms offset
    # avoid clicks. The syllable is made in floating point first, with
    # headroom for the resonances.
    sox -V1 -r "$rate" -n -b 32 -e floating-point -c 1 "$tmp" \
        synth "${frames}s" sawtooth "$glide" gain -20 \
        equalizer 700 100h +15 equalizer 1200 120h +12 equalizer 2600 150h +8 \
        lowpass 3500 \
        fade h 0.02 0.25 0.05
    # Equal RMS level for every step, so that loudness gives no cue; the
    # peaks stay near -7 dBFS. -D: no dither, so that the output is
    # repeatable.
    rms=$(sox "$tmp" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }')
    gain=$(awk -v rms="$rms" -v target="$rmsTarget" 'BEGIN { printf "%.4f", 20 * log(target / rms) / log(10) }')
    sox -D -V1 "$tmp" -b 16 -e signed-integer "$out/step$i.wav" gain "$gain"
    echo "step$i.wav: $glide Hz"
    i=$((i + 1))
done
