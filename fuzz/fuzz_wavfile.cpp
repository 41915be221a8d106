// libFuzzer target for the WAV reader. Every input is read twice through
// readFrom, the entry point that read() itself uses:
//   - by a new WavFile from a seekable stream (as a file is read), and
//   - by a WavFile that has just read a good file, from a stream that cannot
//     seek or tell its length and hands out its bytes in pieces (a pipe).
// Besides crashes, leaks, undefined behaviour and allocations over the
// fuzzer's -malloc_limit_mb, a trap is raised when the two readings disagree
// or when a rule of the reader's state is broken.

#include "wav/WavFile.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// A read-only view of the input that cannot seek, refilled in pieces of an
// odd size so that reads straddle them.
class PipeBuffer : public std::streambuf
{
public:
    PipeBuffer(const std::uint8_t *data, std::size_t size)
        : data(reinterpret_cast<char *>(const_cast<std::uint8_t *>(data))), size(size)
    {
    }

protected:
    int_type underflow() override
    {
        if (next >= size)
            return traits_type::eof();
        const std::size_t piece = std::min<std::size_t>(509, size - next);
        setg(data + next, data + next, data + next + piece);
        next += piece;
        return traits_type::to_int_type(*gptr());
    }

private:
    char *data;
    std::size_t size;
    std::size_t next = 0;
};

// A canonical 16-bit mono file with four samples, read before the input so
// that the state rules after a refused or empty file can be checked.
std::string goodFile()
{
    const unsigned char bytes[52] = {
        'R', 'I', 'F', 'F', 44, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0,
        2, 0, 16, 0, 'd', 'a', 't', 'a', 8, 0, 0, 0, 0x00, 0x80, 0xFF, 0x7F,
        0x00, 0x40, 0x00, 0xC0,
    };
    return std::string(reinterpret_cast<const char *>(bytes), sizeof bytes);
}

bool sameHeader(const WavFile &a, const WavFile &b)
{
    return std::memcmp(a.riffHeader, b.riffHeader, 4) == 0 && a.riffSize == b.riffSize
        && std::memcmp(a.waveHeader, b.waveHeader, 4) == 0 && std::memcmp(a.fmtHeader, b.fmtHeader, 4) == 0
        && a.fmtSize == b.fmtSize && a.audioFormat == b.audioFormat && a.numChannels == b.numChannels
        && a.sampleRate == b.sampleRate && a.bytesPerSecond == b.bytesPerSecond
        && a.blockAlign == b.blockAlign && a.bitsPerSample == b.bitsPerSample
        && std::memcmp(a.dataString, b.dataString, 4) == 0 && a.dataLength == b.dataLength;
}

// What holds after every read, good or not.
void checkInvariants(const WavFile &wav, std::size_t inputSize)
{
    check(wav.sampleData == wav.decodedSamples.data());
    check(wav.rawBytesRead >= 0);
    // Nothing is held or reserved beyond what some input supplied.
    check(wav.decodedSamples.capacity() <= std::max<std::size_t>(inputSize, 4));
    for (const double sample : wav.decodedSamples)
        check(sample >= -1.0 && sample < 1.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::ostringstream errors;
    std::streambuf *const oldErrors = std::cerr.rdbuf(errors.rdbuf());

    WavFile fresh;
    std::istringstream seekable(bytes);
    const bool freshOk = fresh.readFrom(seekable, "input.wav");
    const std::string freshErrors = errors.str();
    errors.str(std::string());

    WavFile used;
    std::istringstream good(goodFile());
    check(used.readFrom(good, "good.wav"));
    const std::vector<double> goodSamples = used.decodedSamples;
    check(goodSamples.size() == 4);
    errors.str(std::string());

    PipeBuffer pipe(data, size);
    std::istream unseekable(&pipe);
    const bool usedOk = used.readFrom(unseekable, "input.wav");
    const std::string usedErrors = errors.str();

    std::cerr.rdbuf(oldErrors);

    // Neither the kind of stream nor the previous file changes the outcome.
    check(freshOk == usedOk);
    check(freshErrors == usedErrors);
    checkInvariants(fresh, size);
    checkInvariants(used, size);

    if (freshOk) {
        check(freshErrors.empty());
        check(fresh.bitsPerSample == 8 || fresh.bitsPerSample == 16 || fresh.bitsPerSample == 24);
        check(fresh.sampleCount == fresh.dataLength / (fresh.bitsPerSample / 8u));
        check(fresh.rawBytesRead <= std::int64_t(size));
        // A success overwrites all thirteen header fields.
        check(sameHeader(fresh, used));
        // Samples are decoded exactly when the whole data chunk was read.
        const bool whole = fresh.rawBytesRead > 0 && fresh.rawBytesRead == fresh.dataLength;
        check(fresh.decodedSamples.size() == (whole ? fresh.sampleCount : 0u));
        if (fresh.dataLength != 0) {
            check(used.rawBytesRead == fresh.rawBytesRead);
            check(used.sampleCount == fresh.sampleCount);
            check(used.decodedSamples == fresh.decodedSamples);
        } else {
            // An empty data chunk leaves the previous samples in place.
            check(fresh.sampleCount == 0 && used.sampleCount == 0);
            check(used.rawBytesRead == 8 && used.decodedSamples == goodSamples);
        }
    } else if (usedErrors.find("Not enough memory") == std::string::npos) {
        check(!freshErrors.empty());
        // A refused file leaves the previous file's data as it was.
        check(used.sampleCount == 4 && used.rawBytesRead == 8);
        check(used.decodedSamples == goodSamples);
    }
    return 0;
}
