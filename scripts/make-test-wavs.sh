#!/bin/sh
# Makes the WAV files of the WavFile test under tests/data/wav and, beside
# every file that the reader should accept, NAME.f64: the samples as sox
# itself decodes them (raw little-endian doubles), which the test compares
# with ours exactly.
#
#   scripts/make-test-wavs.sh [CORPUS_DIR]
#
# CORPUS_DIR (default: ../shared/wav-corpus beside the repository) holds WAV
# files written by other projects; the ones the test uses are copied with
# their licences. When it is absent the committed copies are kept.
# Needs sox. The outputs are committed, so the test itself does not.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-$root/../shared/wav-corpus}
out=$root/tests/data/wav
mkdir -p "$out/sox"

# -R makes the noise repeatable, so that the files only change when this
# script does. "-r 8000 -n" sets the rate of the generator itself, so that no
# resampling happens; "Ns" is a length in samples (frames).
gen() { # name bits channels frames [encoding]
    sox -R -r 8000 -n -e "${5:-signed-integer}" -b "$2" -c "$3" "$out/sox/$1.wav" \
        synth "$4s" whitenoise
}
gen s8-mono-odd 8 1 17 unsigned-integer   # 17 data bytes: a pad byte follows
gen s8-stereo 8 2 40 unsigned-integer
gen s16-mono 16 1 101
gen s16-stereo-odd 16 2 33
gen s16-3ch 16 3 11                       # sox writes the extensible tag for 3 channels
gen s24-mono-odd 24 1 17                  # extensible tag, a fact chunk, 51 data bytes
gen s24-stereo 24 2 40
gen s32-mono 32 1 8                       # refused: 32 bits
gen f32-mono 32 1 8 floating-point        # refused: not PCM

# An empty file.
: >"$out/empty.wav"
# Cut inside the data: the header claims 202 bytes, the file holds 56.
head -c 100 "$out/sox/s16-mono.wav" >"$out/sox/s16-truncated.wav"
# A 60-byte file whose data chunk claims 4 GiB - 1.
head -c 60 "$out/sox/s16-mono.wav" >"$out/sox/s16-claims-4gib.wav"
printf '\377\377\377\377' | dd of="$out/sox/s16-claims-4gib.wav" bs=1 seek=40 conv=notrunc 2>/dev/null

if [ -d "$corpus" ]; then
    mkdir -p "$out/hound" "$out/wavefile"
    cp -r "$corpus/hound/." "$out/hound/"
    cp "$corpus/wavefile/LICENSE" "$corpus/wavefile/COMMIT" "$out/wavefile/"
    for f in \
        invalid/bad_riff_header.wav \
        invalid/data_chunk_ends_after_chunk_id.wav \
        invalid/data_chunk_has_incomplete_chunk_size.wav \
        invalid/data_chunk_truncated.wav \
        invalid/empty_format_chunk.wav \
        invalid/extensible_format_chunk_extension_incomplete.wav \
        invalid/extensible_format_chunk_extension_missing.wav \
        invalid/format_chunk_after_data_chunk.wav \
        invalid/format_chunk_extra_bytes_with_odd_size_and_missing_padding_byte.wav \
        invalid/format_chunk_with_extra_byte_and_missing_padding_byte.wav \
        invalid/incomplete_riff_format.wav \
        invalid/incomplete_riff_header.wav \
        invalid/insufficient_format_chunk.wav \
        invalid/no_data_chunk.wav \
        invalid/no_format_chunk_size.wav \
        invalid/no_riff_format.wav \
        invalid/riff_chunk_has_no_child_chunks.wav \
        unsupported/bad_channel_count.wav \
        unsupported/bad_sample_rate.wav \
        unsupported/extensible_container_size_bigger_than_sample_size.wav \
        unsupported/extensible_unsupported_subformat_guid.wav \
        unsupported/unsupported_audio_format.wav \
        unsupported/unsupported_bits_per_sample.wav \
        valid/extensible_format_chunk_oversized_extension.wav \
        valid/extensible_mono_pcm_24_44100.wav \
        valid/extensible_stereo_pcm_8_44100.wav \
        valid/format_chunk_extra_bytes_with_odd_size_and_padding_byte.wav \
        valid/format_chunk_with_extra_byte_and_padding_byte.wav \
        valid/mono_pcm_16_44100_junk_chunk_with_padding_byte.wav \
        valid/mono_pcm_8_44100_with_padding_byte.wav \
        valid/no_samples.wav \
        valid/with_smpl_chunk_after_data_chunk_and_data_chunk_has_padding_byte.wav \
        valid/with_smpl_chunk_before_data_chunk.wav
    do
        cp "$corpus/wavefile/$f" "$out/wavefile/$(echo "$f" | tr / -)"
    done
    # sox refuses the odd-sized (17- and 19-byte) format chunks of these two
    # ("could not find data chunk"); their sample bytes are those of
    # mono_pcm_8_44100.wav, which sox reads.
    for f in format_chunk_with_extra_byte_and_padding_byte format_chunk_extra_bytes_with_odd_size_and_padding_byte
    do
        sox "$corpus/wavefile/valid/mono_pcm_8_44100.wav" -t f64 -e floating-point \
            "$out/wavefile/valid-$f.f64"
    done
fi

# sox's own decoding of every file the reader accepts.
for f in \
    sox/s8-mono-odd sox/s8-stereo sox/s16-mono sox/s16-stereo-odd sox/s16-3ch \
    sox/s24-mono-odd sox/s24-stereo \
    hound/pcmwaveformat-16bit-44100Hz-mono-extra hound/waveformatex-16bit-44100Hz-mono \
    hound/waveformatex-16bit-44100Hz-stereo hound/waveformatextensible-24bit-192kHz-mono \
    hound/pcmwaveformat-8bit-44100Hz-mono hound/waveformatex-16bit-44100Hz-mono-extra \
    hound/waveformatex-8bit-11025Hz-mono hound/pop hound/nonstandard-01 \
    wavefile/valid-extensible_format_chunk_oversized_extension \
    wavefile/valid-extensible_mono_pcm_24_44100 \
    wavefile/valid-extensible_stereo_pcm_8_44100 \
    wavefile/valid-mono_pcm_16_44100_junk_chunk_with_padding_byte \
    wavefile/valid-mono_pcm_8_44100_with_padding_byte \
    wavefile/valid-with_smpl_chunk_after_data_chunk_and_data_chunk_has_padding_byte \
    wavefile/valid-with_smpl_chunk_before_data_chunk
do
    sox "$out/$f.wav" -t f64 -e floating-point "$out/$f.f64"
done
