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

// The canonical layout: a 12-byte RIFF header ("RIFF", size, "WAVE"), the
// 8-byte header and 16-byte body of the "fmt " chunk, and the 8-byte header
// of the "data" chunk, so the sample data starts at byte 44.
constexpr std::size_t riffHeaderSize = 12;
constexpr std::size_t chunkHeaderSize = 8;
constexpr std::size_t plainFormatSize = 16;
constexpr std::size_t canonicalHeaderSize = 44;

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
    if (count == 0)
        return 0;
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
    if (size < 0 || std::uint64_t(size) > std::numeric_limits<std::size_t>::max())
        return false;
    void *grown = std::realloc(buffer, static_cast<std::size_t>(size));
    if (!grown)
        return false;
    buffer = static_cast<unsigned char *>(grown);
    held = size;
    return true;
}

// The file read front to back as chunks, its first bytes taken from the header
// block already read. Positions are byte offsets from the start of the file.
// While the position is past the header block, the stream stands at it.
class ChunkSource
{
public:
    ChunkSource(std::istream &in, std::streamoff start, std::int64_t size, const unsigned char *head,
                std::size_t headBytes)
        : in(in), start(start), streamSize(size), head(head), headBytes(std::int64_t(headBytes))
    {
    }

    std::int64_t position() const { return current; }
    // Bytes of the stream from its start; -1 when it cannot tell.
    std::int64_t size() const { return streamSize; }
    // Bytes left after the position; the largest count a read can ask for
    // when the size is unknown.
    std::int64_t remaining() const
    {
        if (streamSize < 0)
            return std::numeric_limits<std::int64_t>::max();
        return std::max<std::int64_t>(streamSize - current, 0);
    }

    std::size_t read(void *to, std::size_t count)
    {
        unsigned char *out = static_cast<unsigned char *>(to);
        std::size_t done = 0;
        if (current < headBytes) {
            done = std::min<std::size_t>(count, std::size_t(headBytes - current));
            std::memcpy(out, head + current, done);
            current += std::int64_t(done);
        }
        if (done < count) {
            const std::size_t got = readUpTo(in, out + done, count - done);
            current += std::int64_t(got);
            done += got;
        }
        return done;
    }

    // Moves forward to offset. False when the stream ends before it, so that
    // nothing could be read there.
    bool skipTo(std::int64_t offset)
    {
        if (offset <= current)
            return offset == current;
        if (streamSize >= 0 && offset > streamSize)
            return false;
        if (offset > headBytes) {
            const std::int64_t streamAt = std::max(current, headBytes);
            in.clear();
            if (streamSize >= 0) {
                in.seekg(start + offset);
            } else {
                in.ignore(offset - streamAt);
                if (in.gcount() < offset - streamAt)
                    return false;
            }
        }
        current = offset;
        return true;
    }

private:
    std::istream &in;
    std::streamoff start;
    std::int64_t streamSize;
    const unsigned char *head;
    std::int64_t headBytes;
    std::int64_t current = 0;
};

// Reads a data chunk's body, length bytes as far as the stream goes, into
// buffer, which ends up holding exactly the bytes obtained. False when memory
// runs out.
bool readBody(ChunkSource &source, std::uint32_t length, unsigned char *&buffer, std::int64_t &held,
              std::int64_t &obtained)
{
    obtained = 0;
    const std::int64_t wanted = std::min<std::int64_t>(length, source.remaining());
    if (source.size() >= 0) {
        // One block read into a buffer sized to what the stream can supply.
        if (!resizeBuffer(buffer, held, wanted))
            return false;
        if (wanted > 0)
            obtained = std::int64_t(source.read(buffer, std::size_t(wanted)));
    } else {
        // Unknown length: grow the buffer as the bytes arrive, so that a huge
        // claim costs no more memory than the bytes that really come.
        while (obtained < wanted) {
            const std::int64_t step =
                std::min(wanted - obtained, std::max<std::int64_t>(obtained, 65536));
            if (!resizeBuffer(buffer, held, obtained + step))
                return false;
            const std::int64_t got = std::int64_t(source.read(buffer + obtained, std::size_t(step)));
            obtained += got;
            if (got < step)
                break;
        }
    }
    // A short read leaves the buffer larger than what it holds.
    return resizeBuffer(buffer, held, obtained);
}

// The decoding loops are the hot path of a read. Each is a plain indexed loop
// without branches so that the compiler can vectorise it. Every scale is a
// power of two and every sample value fits a double's mantissa, so each
// result is the exact value of the sample.
//
// On a little-endian host a sample is loaded as one machine word, which is
// about twice as fast as assembling it from bytes; elsewhere, and for the
// last 24-bit sample (a 4-byte load there would run past the data), it is
// assembled from bytes, and sign extension uses (v ^ signBit) - signBit.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool littleEndianHost = true;
#else
constexpr bool littleEndianHost = false;
#endif

// Unsigned bytes with 128 as silence; 2^-7 maps them onto -1 .. 127/128.
void decode8(const unsigned char *in, double *out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = (int(in[i]) - 128) * 0.0078125;
}

// Signed little-endian 16-bit; 2^-15 maps them onto -1 .. 32767/32768.
void decode16(const unsigned char *in, double *out, std::size_t count)
{
    if (littleEndianHost) {
        for (std::size_t i = 0; i < count; ++i) {
            std::int16_t value;
            std::memcpy(&value, in + 2 * i, sizeof value);
            out[i] = value * 3.0517578125e-05;
        }
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int value = int(in[2 * i]) | int(in[2 * i + 1]) << 8;
        out[i] = ((value ^ 0x8000) - 0x8000) * 3.0517578125e-05;
    }
}

// Signed little-endian 24-bit; 2^-23 maps them onto -1 .. 8388607/8388608.
void decode24(const unsigned char *in, double *out, std::size_t count)
{
    std::size_t i = 0;
    if (littleEndianHost && count > 1) {
        // The three bytes of a sample and the first of the next, shifted so
        // that the sample's sign bit is the word's: the value times 2^8, so
        // the scale is 2^-31.
        for (; i < count - 1; ++i) {
            std::uint32_t word;
            std::memcpy(&word, in + 3 * i, sizeof word);
            out[i] = double(std::int32_t(word << 8)) * 4.656612873077393e-10;
        }
    }
    for (; i < count; ++i) {
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
      sampleData(nullptr), rawDataSize(0), dataOffset(canonicalHeaderSize)
{
}

WavFile::~WavFile()
{
    std::free(rawData);
}

// The thirteen header fields as the 44 bytes of the canonical header.
void WavFile::packHeader(unsigned char *header) const
{
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
}

void WavFile::unpackHeader(const unsigned char *header)
{
    std::memcpy(riffHeader, header, 4);
    riffSize = getLe32(header + 4);
    std::memcpy(waveHeader, header + 8, 4);
    std::memcpy(fmtHeader, header + 12, 4);
    fmtSize = getLe32(header + 16);
    audioFormat = getLe16(header + 20);
    numChannels = getLe16(header + 22);
    sampleRate = getLe32(header + 24);
    bytesPerSecond = getLe32(header + 28);
    blockAlign = getLe16(header + 32);
    bitsPerSample = getLe16(header + 34);
    std::memcpy(dataString, header + 36, 4);
    dataLength = getLe32(header + 40);
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
    in.clear();
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

    // The first 44 bytes go into the header fields where the canonical layout
    // puts them, and bytes that a shorter file does not reach keep their
    // previous values. For a canonical file that is the whole header; for any
    // other layout the chunk walk below replaces the format and data fields
    // with what it finds. A refused file leaves in the fields what it
    // supplied.
    unsigned char header[canonicalHeaderSize];
    packHeader(header);
    const std::size_t headerBytes = readUpTo(in, header, sizeof header);
    if (headerBytes == 0) {
        report("Header size is zero. ", path);
        return false;
    }
    unpackHeader(header);
    if (headerBytes < riffHeaderSize || !isId(waveHeader, "WAVE")) {
        report("Not a WAV file: ", path);
        return false;
    }

    // Walk the chunk list to "data". The RIFF size does not bound the walk,
    // since streaming writers leave it 0 or too large; the end of the stream
    // bounds it instead.
    ChunkSource source(in, start, streamSize, header, headerBytes);
    source.skipTo(riffHeaderSize);
    bool haveFormat = false;
    for (;;) {
        const std::int64_t chunkStart = source.position();
        unsigned char chunk[chunkHeaderSize];
        if (source.read(chunk, sizeof chunk) < sizeof chunk)
            break;
        const std::uint32_t chunkSize = getLe32(chunk + 4);
        const std::int64_t body = chunkStart + std::int64_t(sizeof chunk);

        if (isId(chunk, "data")) {
            if (!haveFormat)
                break;
            std::memcpy(dataString, chunk, 4);
            dataLength = chunkSize;
            if (dataLength != 0) {
                std::int64_t obtained = 0;
                if (!readBody(source, dataLength, rawData, rawDataSize, obtained)) {
                    // Nothing usable is left of the previous samples either.
                    resizeBuffer(rawData, rawDataSize, 0);
                    rawBytesRead = 0;
                    decodedSamples.clear();
                    sampleData = decodedSamples.data();
                    report("Not enough memory to read WAV file: ", path);
                    return false;
                }
                rawBytesRead = obtained;
            }
            // bitsPerSample is 8, 16 or 24 here: the format checks passed.
            sampleCount = dataLength / (bitsPerSample / 8u);
            dataOffset = body;
            if (dataLength != 0)
                convertSamples();
            return true;
        }

        if (isId(chunk, "fmt ") && !haveFormat) {
            unsigned char format[extensibleFormatSize];
            const std::size_t formatBytes =
                source.read(format, std::min<std::size_t>(chunkSize, sizeof format));
            std::memcpy(fmtHeader, chunk, 4);
            fmtSize = chunkSize;
            if (formatBytes < plainFormatSize) {
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
        if (!source.skipTo(body + chunkSize + (chunkSize & 1u)))
            break;
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

    unsigned char header[canonicalHeaderSize];
    packHeader(header);
    // A file read from another layout (a longer format chunk, the extensible
    // tag, chunks before the data) gets the canonical one, so that the 44
    // bytes describe what follows them.
    if (dataOffset != std::int64_t(canonicalHeaderSize) || fmtSize != 16 || audioFormat != formatPcm) {
        putLe32(header + 4, std::uint32_t(std::min<std::uint64_t>(
                                36u + std::uint64_t(dataLength),
                                std::numeric_limits<std::uint32_t>::max())));
        putLe32(header + 16, plainFormatSize);
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
