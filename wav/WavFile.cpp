#include "wav/WavFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <istream>
#include <limits>
#include <new>

namespace {

// Offset of the sample data in the canonical layout: a 12-byte RIFF header, a
// 16-byte "fmt " chunk with its 8-byte header, and the "data" chunk header.
constexpr std::int64_t canonicalDataOffset = 44;

constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatExtensible = 0xFFFE;

// The extensible format's sub-format for linear PCM: the GUID
// 00000001-0000-0010-8000-00AA00389B71 as it is stored in the file.
constexpr unsigned char pcmSubFormat[16] = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,
};

// An extensible format chunk: the 16 bytes of the plain one, then the size of
// the extension (at least 22), the valid bits, the channel mask and the
// sub-format GUID at byte 24.
constexpr std::size_t extensibleFormatSize = 40;

std::uint16_t getLe16(const unsigned char *p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t getLe32(const unsigned char *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
        | std::uint32_t(p[3]) << 24;
}

void putLe16(unsigned char *p, std::uint16_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

void putLe32(unsigned char *p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

bool isId(const void *bytes, const char *id)
{
    return std::memcmp(bytes, id, 4) == 0;
}

// Reads up to count bytes; returns how many the stream supplied.
std::size_t readUpTo(std::istream &in, void *buffer, std::size_t count)
{
    in.read(static_cast<char *>(buffer), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(in.gcount());
}

void report(const char *message, const std::string &path)
{
    std::cerr << message << path << std::endl;
}

// Resizes a malloc'ed buffer to exactly size bytes, keeping its start. A size
// of 0 releases it. Returns false, leaving the buffer as it was, when memory
// runs out.
bool resizeBuffer(unsigned char *&buffer, std::int64_t &held, std::int64_t size)
{
    if (size == held)
        return true;
    if (size == 0) {
        std::free(buffer);
        buffer = nullptr;
        held = 0;
        return true;
    }
    if (std::uint64_t(size) > std::numeric_limits<std::size_t>::max())
        return false;
    void *grown = std::realloc(buffer, static_cast<std::size_t>(size));
    if (!grown)
        return false;
    buffer = static_cast<unsigned char *>(grown);
    held = size;
    return true;
}

// The decoding loops are the hot path of a read. Each is a plain indexed loop
// without branches so that the compiler can vectorise it. Sign extension uses
// (v ^ signBit) - signBit, which is exact integer arithmetic; every scale is a
// power of two, so each result is the exact value of the sample.

// Unsigned bytes with 128 as silence; 2^-7 maps them onto -1 .. 127/128.
void decode8(const unsigned char *in, double *out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = (int(in[i]) - 128) * 0.0078125;
}

// Signed little-endian 16-bit; 2^-15 maps them onto -1 .. 32767/32768.
void decode16(const unsigned char *in, double *out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const int value = int(in[2 * i]) | int(in[2 * i + 1]) << 8;
        out[i] = ((value ^ 0x8000) - 0x8000) * 3.0517578125e-05;
    }
}

// Signed little-endian 24-bit; 2^-23 maps them onto -1 .. 8388607/8388608.
void decode24(const unsigned char *in, double *out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const int value = int(in[3 * i]) | int(in[3 * i + 1]) << 8 | int(in[3 * i + 2]) << 16;
        out[i] = ((value ^ 0x800000) - 0x800000) * 1.1920928955078125e-07;
    }
}

// A plain PCM tag, or the extensible tag whose sub-format is PCM. format holds
// the first bytes of the format chunk, size of them.
bool isLinearPcm(const unsigned char *format, std::size_t size)
{
    const std::uint16_t tag = getLe16(format);
    if (tag == formatPcm)
        return true;
    return tag == formatExtensible && size >= extensibleFormatSize
        && getLe16(format + 16) >= extensibleFormatSize - 18
        && std::memcmp(format + 24, pcmSubFormat, sizeof pcmSubFormat) == 0;
}

} // namespace

WavFile::WavFile()
    : riffHeader{}, riffSize(0), waveHeader{}, fmtHeader{}, fmtSize(0), audioFormat(0),
      numChannels(0), sampleRate(0), bytesPerSecond(0), blockAlign(0), bitsPerSample(0),
      dataString{}, dataLength(0), rawData(nullptr), rawBytesRead(0), sampleCount(0),
      sampleData(nullptr), rawDataSize(0), dataOffset(canonicalDataOffset)
{
}

WavFile::~WavFile()
{
    std::free(rawData);
}

bool WavFile::read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        report("Unable to open WAV file: ", path);
        return false;
    }
    return readFrom(in, path);
}

bool WavFile::readFrom(std::istream &in, const std::string &path)
{
    // How many bytes the stream holds, so that no size from the file is
    // believed beyond them. -1 when the stream cannot tell (a pipe).
    std::int64_t streamSize = -1;
    const std::streamoff start = in.tellg();
    if (start >= 0) {
        in.seekg(0, std::ios::end);
        const std::streamoff end = in.tellg();
        if (end >= start)
            streamSize = end - start;
        in.clear();
        in.seekg(start);
    }
    in.clear();

    // The RIFF header. Bytes that a shorter file does not reach keep their
    // previous values, but such a file cannot hold "WAVE" and is refused.
    unsigned char riff[12];
    std::memcpy(riff, riffHeader, 4);
    putLe32(riff + 4, riffSize);
    std::memcpy(riff + 8, waveHeader, 4);
    const std::size_t riffBytes = readUpTo(in, riff, sizeof riff);
    if (riffBytes == 0) {
        report("Header size is zero. ", path);
        return false;
    }
    std::memcpy(riffHeader, riff, 4);
    riffSize = getLe32(riff + 4);
    std::memcpy(waveHeader, riff + 8, 4);
    if (riffBytes < sizeof riff || !isId(waveHeader, "WAVE")) {
        report("Not a WAV file: ", path);
        return false;
    }

    // Walk the chunk list to "data". The RIFF size is not used to bound the
    // walk, since streaming writers leave it 0 or too large; the end of the
    // stream bounds it instead.
    bool haveFormat = false;
    std::int64_t chunkStart = sizeof riff;
    for (;;) {
        unsigned char chunk[8];
        if (readUpTo(in, chunk, sizeof chunk) < sizeof chunk)
            break;
        const std::uint32_t chunkSize = getLe32(chunk + 4);
        const std::int64_t body = chunkStart + 8;
        std::int64_t position = body;

        if (isId(chunk, "data")) {
            if (!haveFormat)
                break;
            std::memcpy(dataString, chunk, 4);
            dataLength = chunkSize;

            // A chunk that claims more than the stream holds is read as far as
            // it goes, like a truncated file; nothing larger is allocated.
            std::int64_t wanted = dataLength;
            if (streamSize >= 0)
                wanted = std::min(wanted, std::max<std::int64_t>(streamSize - body, 0));
            std::int64_t obtained = 0;
            if (dataLength != 0) {
                bool allocated = true;
                if (streamSize >= 0) {
                    allocated = resizeBuffer(rawData, rawDataSize, wanted);
                    if (allocated && wanted > 0)
                        obtained = std::int64_t(readUpTo(in, rawData, std::size_t(wanted)));
                } else {
                    // Unknown length: grow the buffer as the bytes arrive.
                    while (allocated && obtained < wanted) {
                        const std::int64_t step = std::min(wanted - obtained,
                                                           std::max<std::int64_t>(obtained, 65536));
                        allocated = resizeBuffer(rawData, rawDataSize, obtained + step);
                        if (!allocated)
                            break;
                        const std::int64_t got =
                            std::int64_t(readUpTo(in, rawData + obtained, std::size_t(step)));
                        obtained += got;
                        if (got < step)
                            break;
                    }
                    if (allocated)
                        resizeBuffer(rawData, rawDataSize, obtained);
                }
                if (!allocated) {
                    resizeBuffer(rawData, rawDataSize, 0);
                    rawBytesRead = 0;
                    decodedSamples.clear();
                    sampleData = decodedSamples.data();
                    report("Not enough memory to read WAV file: ", path);
                    return false;
                }
            }

            sampleCount = dataLength / (bitsPerSample / 8u);
            dataOffset = body;
            if (dataLength != 0) {
                rawBytesRead = obtained;
                convertSamples();
            }
            return true;
        }

        if (isId(chunk, "fmt ") && !haveFormat) {
            unsigned char format[extensibleFormatSize];
            const std::size_t formatBytes =
                readUpTo(in, format, std::min<std::size_t>(chunkSize, sizeof format));
            position += std::int64_t(formatBytes);
            std::memcpy(fmtHeader, chunk, 4);
            fmtSize = chunkSize;
            if (formatBytes < 16) {
                report("Incomplete format chunk in WAV file: ", path);
                return false;
            }
            audioFormat = getLe16(format);
            numChannels = getLe16(format + 2);
            sampleRate = getLe32(format + 4);
            bytesPerSecond = getLe32(format + 8);
            blockAlign = getLe16(format + 12);
            bitsPerSample = getLe16(format + 14);
            haveFormat = true;
            if (!isLinearPcm(format, formatBytes)) {
                report("Not a PCM (linear quantitation) WAV file: ", path);
                return false;
            }
            if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 24) {
                report("Not a 8-bit, 16-bit, or 24-bit WAV file: ", path);
                return false;
            }
        }

        // Chunks start on even offsets: an odd-sized chunk is followed by a
        // pad byte.
        chunkStart = body + chunkSize + (chunkSize & 1u);
        if (streamSize >= 0) {
            if (chunkStart > streamSize - 8)
                break;
            in.seekg(start + chunkStart);
        } else {
            in.ignore(chunkStart - position);
        }
    }

    report(haveFormat ? "No data chunk in WAV file: " : "No format chunk in WAV file: ", path);
    return false;
}

void WavFile::convertSamples()
{
    // Never trust sampleCount beyond the bytes actually held: the members are
    // public and the header may claim more than the file had.
    const unsigned bytesPerSample = bitsPerSample / 8u;
    std::size_t count = 0;
    if (bytesPerSample != 0)
        count = std::size_t(std::min<std::int64_t>(sampleCount, rawDataSize / bytesPerSample));
    const bool whole = rawBytesRead > 0 && rawBytesRead == dataLength
        && rawBytesRead <= rawDataSize && sampleCount != 0;
    const bool decodable = bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24;

    try {
        if (whole && decodable) {
            // Resizing keeps the old elements instead of zeroing the whole
            // array first; every element is overwritten below.
            decodedSamples.resize(count);
            double *out = decodedSamples.data();
            switch (bitsPerSample) {
            case 8:
                decode8(rawData, out, count);
                break;
            case 16:
                decode16(rawData, out, count);
                break;
            default:
                decode24(rawData, out, count);
                break;
            }
        } else {
            decodedSamples.clear();
            decodedSamples.reserve(count);
            if (whole && bitsPerSample == 32)
                std::cerr << "32-bit PCM is not working yet." << std::endl;
            else if (whole)
                std::cerr << "Not recognizable bits per sample. " << std::endl;
        }
    } catch (const std::bad_alloc &) {
        decodedSamples.clear();
        std::cerr << "Not enough memory to decode the samples." << std::endl;
    }
    sampleData = decodedSamples.data();
}

bool WavFile::write(const std::string &path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out) {
        std::cerr << "Unable to write wave file: " << path << std::endl;
        return false;
    }

    unsigned char header[canonicalDataOffset];
    std::memcpy(header, riffHeader, 4);
    putLe32(header + 4, riffSize);
    std::memcpy(header + 8, waveHeader, 4);
    std::memcpy(header + 12, fmtHeader, 4);
    putLe32(header + 16, fmtSize);
    putLe16(header + 20, audioFormat);
    putLe16(header + 22, numChannels);
    putLe32(header + 24, sampleRate);
    putLe32(header + 28, bytesPerSecond);
    putLe16(header + 32, blockAlign);
    putLe16(header + 34, bitsPerSample);
    std::memcpy(header + 36, dataString, 4);
    putLe32(header + 40, dataLength);
    // A file read from another layout (a longer format chunk, the extensible
    // tag, chunks before the data) gets the canonical one, so that the 44
    // bytes describe what follows them.
    if (dataOffset != canonicalDataOffset || fmtSize != 16 || audioFormat != formatPcm) {
        putLe32(header + 4, std::uint32_t(std::min<std::uint64_t>(
                                36u + std::uint64_t(dataLength),
                                std::numeric_limits<std::uint32_t>::max())));
        putLe32(header + 16, 16);
        putLe16(header + 20, formatPcm);
    }
    out.write(reinterpret_cast<const char *>(header), sizeof header);

    // After a truncated read only the bytes obtained are held.
    const std::int64_t bytes = std::min<std::int64_t>(dataLength, rawDataSize);
    if (bytes > 0)
        out.write(reinterpret_cast<const char *>(rawData), static_cast<std::streamsize>(bytes));
    return true;
}

void WavFile::printHeader() const
{
    std::cout << "RIFF header                : " << std::string(riffHeader, 4) << std::endl;
    std::cout << "WAVE header                : " << std::string(waveHeader, 4) << std::endl;
    std::cout << "FMT                        : " << std::string(fmtHeader, 4) << std::endl;
    std::cout << "Data size                  : " << riffSize << std::endl;
    std::cout << "Sampling Rate              : " << sampleRate << std::endl;
    std::cout << "Number of bits per sample  : " << bitsPerSample << std::endl;
    std::cout << "Number of channels         : " << numChannels << std::endl;
    std::cout << "Number of bytes per second : " << bytesPerSecond << std::endl;
    std::cout << "Data length (bytes)        : " << dataLength << std::endl;
    std::cout << "Audio Format               : " << audioFormat << std::endl;
    std::cout << "Block align                : " << blockAlign << std::endl;
    std::cout << "Data string                : " << std::string(dataString, 4) << std::endl;
}

void WavFile::printSamples() const
{
    for (const double sample : decodedSamples)
        std::cout << sample << std::endl;
}
