#ifndef WAVFILE_H
#define WAVFILE_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// An uncompressed PCM WAV file (8, 16 or 24 bits per sample) held in memory:
// its header fields, the sample bytes as read, and the samples decoded to
// doubles in -1..1, channels interleaved as in the file.
//
// The "fmt " and "data" chunks are found by walking the RIFF chunk list, so
// files with a longer format chunk or with other chunks (LIST, fact, JUNK ...)
// before the data are read correctly. The 0xFFFE extensible format is accepted
// when its sub-format is linear PCM. Sizes from the file are never trusted
// beyond the bytes the file actually holds: a data chunk that claims more
// reads as a cut-off file does (true, nothing decoded).
//
// The first 44 bytes of a file fill the header fields where the canonical
// layout puts them, and the chunks found then replace the format and data
// fields. So a canonical file gives its header exactly, and a refused file
// leaves the bytes it supplied (a short one only as far as it reaches) while
// the samples of the last good read stay. Refused: no "WAVE" in the first 12
// bytes, no complete format chunk before the data, a format other than linear
// PCM of 8, 16 or 24 bits, no data chunk.
//
// Failures are reported as one line on standard error (message, path) and a
// false result; nothing throws.
class WavFile
{
public:
    WavFile();
    ~WavFile();
    WavFile(const WavFile &) = delete;
    WavFile &operator=(const WavFile &) = delete;

    // Reads, checks and decodes the file at path (narrow, UTF-8 bytes).
    bool read(const std::string &path);
    // The same from a stream positioned at the start of a WAV file; path is
    // used only in messages. read opens the file and calls this.
    bool readFrom(std::istream &in, const std::string &path);
    // Decodes rawData into decodedSamples according to bitsPerSample.
    void convertSamples();
    // Appends a 44-byte header and the sample bytes as read to path.
    bool write(const std::string &path) const;
    // Header fields and decoded samples, one per line, on standard output.
    void printHeader() const;
    void printSamples() const;

    // The header fields, in the order of the canonical 44-byte header.
    char riffHeader[4];
    std::uint32_t riffSize;
    char waveHeader[4];
    char fmtHeader[4];
    std::uint32_t fmtSize;        // as found; 16 for the canonical layout
    std::uint16_t audioFormat;    // 1, or 0xFFFE with a linear PCM sub-format
    std::uint16_t numChannels;
    std::uint32_t sampleRate;     // Hz
    std::uint32_t bytesPerSecond;
    std::uint16_t blockAlign;     // bytes per frame
    std::uint16_t bitsPerSample;
    char dataString[4];
    std::uint32_t dataLength;     // bytes of sample data the header claims

    unsigned char *rawData;       // sample bytes as read, owned
    std::int64_t rawBytesRead;    // sample bytes the last read obtained
    std::uint32_t sampleCount;    // samples of all channels, from dataLength
    double *sampleData;           // start of decodedSamples' storage
    std::vector<double> decodedSamples;

private:
    void packHeader(unsigned char *header) const;
    void unpackHeader(const unsigned char *header);

    std::int64_t rawDataSize;     // bytes allocated in rawData
    std::int64_t dataOffset;      // byte offset of the sample data in the file
};

#endif // WAVFILE_H
