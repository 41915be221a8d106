// The WAV reader against files written by sox and by other projects (their
// samples compared exactly with sox's own decoding), against hostile and
// broken files, and the canonical layout's decoding, messages and state rules.

#include "wav/WavFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <iostream>
#include <sstream>

#include <sys/resource.h>
#include <unistd.h>

namespace {

QString dataPath(const QString &name)
{
    return QStringLiteral(TARQUEL_TEST_DATA "/wav/") + name;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::string narrow(const QString &path)
{
    return path.toUtf8().toStdString();
}

// Sends a standard stream into a string while it lives.
class StreamCapture
{
public:
    explicit StreamCapture(std::ostream &stream) : stream(stream), old(stream.rdbuf(buffer.rdbuf())) {}
    ~StreamCapture() { stream.rdbuf(old); }
    std::string text() const { return buffer.str(); }

private:
    std::ostream &stream;
    std::ostringstream buffer;
    std::streambuf *old;
};

void putLe(QByteArray &bytes, int offset, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[offset + i] = char(value >> (8 * i));
}

// A file in the canonical 44-byte layout around the given sample bytes.
QByteArray canonicalFile(int bits, int channels, const QByteArray &data, const char *riffId = "RIFF")
{
    QByteArray file(riffId, 4);
    file += QByteArray(4, 0) + "WAVEfmt " + QByteArray(20, 0) + "data" + QByteArray(4, 0) + data;
    putLe(file, 4, quint32(36 + data.size()), 4);
    putLe(file, 16, 16, 4);
    putLe(file, 20, 1, 2);
    putLe(file, 22, quint32(channels), 2);
    putLe(file, 24, 8000, 4);
    putLe(file, 28, quint32(8000 * channels * bits / 8), 4);
    putLe(file, 32, quint32(channels * bits / 8), 2);
    putLe(file, 34, quint32(bits), 2);
    putLe(file, 40, quint32(data.size()), 4);
    return file;
}

bool readBytes(WavFile &wav, const QByteArray &bytes)
{
    std::istringstream in(bytes.toStdString());
    return wav.readFrom(in, "memory.wav");
}

// While it lives, the process may map only 256 MiB more than it has, so that
// an allocation of gigabytes fails even where the kernel overcommits memory
// and would let an untouched one pass unnoticed. AddressSanitizer reserves
// terabytes of shadow address space, so there the limit is left alone.
class AddressSpaceLimit
{
public:
    AddressSpaceLimit()
    {
#if !defined(__SANITIZE_ADDRESS__)
        std::ifstream statm("/proc/self/statm");
        unsigned long long pages = 0;
        if (statm >> pages && getrlimit(RLIMIT_AS, &old) == 0) {
            rlimit limited = old;
            limited.rlim_cur = pages * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
            if (old.rlim_cur == RLIM_INFINITY || limited.rlim_cur < old.rlim_cur)
                active = setrlimit(RLIMIT_AS, &limited) == 0;
        }
#endif
    }
    ~AddressSpaceLimit()
    {
        if (active)
            setrlimit(RLIMIT_AS, &old);
    }

private:
    rlimit old{};
    bool active = false;
};

// A stream that cannot seek or tell its length, as a pipe is, and that hands
// out its bytes a few at a time.
class PipeBuffer : public std::streambuf
{
public:
    explicit PipeBuffer(const QByteArray &bytes) : bytes(bytes) {}

protected:
    int_type underflow() override
    {
        if (next >= bytes.size())
            return traits_type::eof();
        char *begin = bytes.data() + next;
        const int piece = qMin(7, bytes.size() - next);
        next += piece;
        setg(begin, begin, begin + piece);
        return traits_type::to_int_type(*begin);
    }

private:
    QByteArray bytes;
    int next = 0;
};

// The thirteen header fields as the 44 bytes they stand for.
QByteArray headerOf(const WavFile &wav)
{
    QByteArray header = QByteArray(wav.riffHeader, 4) + QByteArray(4, 0) + QByteArray(wav.waveHeader, 4)
        + QByteArray(wav.fmtHeader, 4) + QByteArray(20, 0) + QByteArray(wav.dataString, 4) + QByteArray(4, 0);
    putLe(header, 4, wav.riffSize, 4);
    putLe(header, 16, wav.fmtSize, 4);
    putLe(header, 20, wav.audioFormat, 2);
    putLe(header, 22, wav.numChannels, 2);
    putLe(header, 24, wav.sampleRate, 4);
    putLe(header, 28, wav.bytesPerSecond, 4);
    putLe(header, 32, wav.blockAlign, 2);
    putLe(header, 34, wav.bitsPerSample, 2);
    putLe(header, 40, wav.dataLength, 4);
    return header;
}

std::vector<double> soxSamples(const QString &wavPath)
{
    QFile file(wavPath.left(wavPath.size() - 4) + QStringLiteral(".f64"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<double> samples(size_t(bytes.size()) / sizeof(double));
    memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(double));
    return samples;
}

} // namespace

class WavFileTest : public QObject
{
    Q_OBJECT

private slots:
    void decodesCanonicalData_data();
    void decodesCanonicalData();
    void matchesSox_data();
    void matchesSox();
    void refuses_data();
    void refuses();
    void truncatedData_data();
    void truncatedData();
    void failedReadLeavesFileHeader_data();
    void failedReadLeavesFileHeader();
    void emptyDataKeepsPreviousSamples_data();
    void emptyDataKeepsPreviousSamples();
    void unseekableStreamReadsAlike_data();
    void unseekableStreamReadsAlike();
    void writeAppendsAndReadsBack_data();
    void writeAppendsAndReadsBack();
    void printsHeaderAndSamples();
    void convertSamplesOnItsOwn_data();
    void convertSamplesOnItsOwn();
};

void WavFileTest::decodesCanonicalData_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QVector<double>>("expected");

    QTest::newRow("8-bit bottom, silence, top")
        << canonicalFile(8, 1, QByteArray("\x00\x80\xFF", 3)) << QVector<double>{-1.0, 0.0, 0.9921875};
    QTest::newRow("16-bit bottom and top")
        << canonicalFile(16, 1, QByteArray("\x00\x80\xFF\x7F", 4)) << QVector<double>{-1.0, 32767.0 / 32768};
    QTest::newRow("24-bit bottom, top, one step below zero")
        << canonicalFile(24, 1, QByteArray("\x00\x00\x80\xFF\xFF\x7F\xFF\xFF\xFF", 9))
        << QVector<double>{-1.0, 8388607.0 / 8388608, -1.0 / 8388608};
    QTest::newRow("stereo 16-bit stays interleaved")
        << canonicalFile(16, 2, QByteArray("\x00\x40\x00\xC0\x00\x20\x00\xE0", 8))
        << QVector<double>{0.5, -0.5, 0.25, -0.25};
    QTest::newRow("16-bit odd length drops the last byte")
        << canonicalFile(16, 1, QByteArray("\x00\x40\x01", 3)) << QVector<double>{0.5};
    QTest::newRow("24-bit remainder of two bytes ignored")
        << canonicalFile(24, 1, QByteArray("\x00\x00\xC0\x12\x34", 5)) << QVector<double>{-0.5};
    QTest::newRow("other RIFF id with WAVE at offset 8")
        << canonicalFile(16, 1, QByteArray("\x00\x40", 2), "RIFX") << QVector<double>{0.5};
}

void WavFileTest::decodesCanonicalData()
{
    QFETCH(QByteArray, file);
    QFETCH(QVector<double>, expected);

    WavFile wav;
    StreamCapture errors(std::cerr);
    QVERIFY(readBytes(wav, file));
    QCOMPARE(errors.text(), std::string());
    QCOMPARE(wav.sampleCount, quint32(expected.size()));
    QCOMPARE(wav.rawBytesRead, qint64(file.size() - 44));
    QCOMPARE(QVector<double>(wav.decodedSamples.begin(), wav.decodedSamples.end()), expected);
    QCOMPARE(wav.sampleData, wav.decodedSamples.data());
}

void WavFileTest::matchesSox_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("bits");

    QTest::newRow("sox 8-bit mono, odd length, pad byte") << "sox/s8-mono-odd.wav" << 1 << 8000 << 8;
    QTest::newRow("sox 8-bit stereo") << "sox/s8-stereo.wav" << 2 << 8000 << 8;
    QTest::newRow("sox 16-bit mono") << "sox/s16-mono.wav" << 1 << 8000 << 16;
    QTest::newRow("sox 16-bit stereo, odd frame count") << "sox/s16-stereo-odd.wav" << 2 << 8000 << 16;
    QTest::newRow("sox 16-bit 3 channels, extensible") << "sox/s16-3ch.wav" << 3 << 8000 << 16;
    QTest::newRow("sox 24-bit mono, extensible, fact chunk, pad byte")
        << "sox/s24-mono-odd.wav" << 1 << 8000 << 24;
    QTest::newRow("sox 24-bit stereo, extensible") << "sox/s24-stereo.wav" << 2 << 8000 << 24;
    QTest::newRow("LIST chunk before data")
        << "hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav" << 1 << 44100 << 16;
    QTest::newRow("18-byte format chunk") << "hound/waveformatex-16bit-44100Hz-mono.wav" << 1 << 44100 << 16;
    QTest::newRow("18-byte format chunk, stereo")
        << "hound/waveformatex-16bit-44100Hz-stereo.wav" << 2 << 44100 << 16;
    QTest::newRow("extensible 24-bit") << "hound/waveformatextensible-24bit-192kHz-mono.wav" << 1 << 192000 << 24;
    QTest::newRow("8-bit canonical") << "hound/pcmwaveformat-8bit-44100Hz-mono.wav" << 1 << 44100 << 8;
    QTest::newRow("17-byte format chunk and its pad byte")
        << "wavefile/valid-format_chunk_with_extra_byte_and_padding_byte.wav" << 1 << 44100 << 8;
    QTest::newRow("JUNK chunk with pad byte")
        << "wavefile/valid-mono_pcm_16_44100_junk_chunk_with_padding_byte.wav" << 1 << 44100 << 16;
    QTest::newRow("odd data length with pad byte")
        << "wavefile/valid-mono_pcm_8_44100_with_padding_byte.wav" << 1 << 44100 << 8;
    QTest::newRow("smpl chunk before data")
        << "wavefile/valid-with_smpl_chunk_before_data_chunk.wav" << 2 << 44100 << 16;
    QTest::newRow("smpl chunk after odd-sized data")
        << "wavefile/valid-with_smpl_chunk_after_data_chunk_and_data_chunk_has_padding_byte.wav" << 1 << 44100
        << 8;
    QTest::newRow("JUNK, bext and minf chunks before data, 24-bit stereo")
        << "hound/nonstandard-01.wav" << 2 << 48000 << 24;
    QTest::newRow("18-byte format chunk and LIST chunk")
        << "hound/waveformatex-16bit-44100Hz-mono-extra.wav" << 1 << 44100 << 16;
    QTest::newRow("18-byte format chunk with a garbage extension size")
        << "hound/waveformatex-8bit-11025Hz-mono.wav" << 1 << 11025 << 8;
    QTest::newRow("19-byte format chunk and its pad byte")
        << "wavefile/valid-format_chunk_extra_bytes_with_odd_size_and_padding_byte.wav" << 1 << 44100 << 8;
    QTest::newRow("extensible 16-bit") << "hound/pop.wav" << 1 << 44100 << 16;
    QTest::newRow("extensible 8-bit stereo")
        << "wavefile/valid-extensible_stereo_pcm_8_44100.wav" << 2 << 44100 << 8;
    QTest::newRow("extensible 24-bit, fact chunk")
        << "wavefile/valid-extensible_mono_pcm_24_44100.wav" << 1 << 44100 << 24;
    QTest::newRow("extensible with a longer extension")
        << "wavefile/valid-extensible_format_chunk_oversized_extension.wav" << 1 << 44100 << 8;
}

void WavFileTest::matchesSox()
{
    QFETCH(QString, file);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(int, bits);

    const std::vector<double> expected = soxSamples(dataPath(file));
    QVERIFY(!expected.empty());
    WavFile wav;
    StreamCapture errors(std::cerr);
    QVERIFY(wav.read(narrow(dataPath(file))));
    QCOMPARE(errors.text(), std::string());
    QCOMPARE(int(wav.numChannels), channels);
    QCOMPARE(int(wav.sampleRate), rate);
    QCOMPARE(int(wav.bitsPerSample), bits);
    QCOMPARE(QByteArray(wav.dataString, 4), QByteArray("data"));
    QCOMPARE(size_t(wav.sampleCount), expected.size());
    QCOMPARE(wav.decodedSamples.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        QVERIFY2(wav.decodedSamples[i] == expected[i], qPrintable(QStringLiteral("sample %1").arg(i)));
}

void WavFileTest::refuses_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes"); // written to a temporary file when not empty
    QTest::addColumn<QString>("message");

    const QString notPcm = QStringLiteral("Not a PCM (linear quantitation) WAV file: ");
    const QString notWidth = QStringLiteral("Not a 8-bit, 16-bit, or 24-bit WAV file: ");
    const QString noFormat = QStringLiteral("No format chunk in WAV file: ");
    const QString noData = QStringLiteral("No data chunk in WAV file: ");
    const QString incomplete = QStringLiteral("Incomplete format chunk in WAV file: ");
    const QByteArray good = canonicalFile(16, 1, QByteArray(4, 0));
    // A LIST chunk claiming 4 GiB - 16 between the format and data chunks.
    QByteArray hugeList = good.left(36) + "LIST" + QByteArray(4, 0) + "INFO" + good.mid(36);
    putLe(hugeList, 40, 0xFFFFFFF0u, 4);

    QTest::newRow("missing file") << "no-such-file.wav" << QByteArray() << "Unable to open WAV file: ";
    QTest::newRow("empty file") << "empty.wav" << QByteArray() << "Header size is zero. ";
    QTest::newRow("only the RIFF id") << "wavefile/invalid-incomplete_riff_header.wav" << QByteArray()
                                      << "Not a WAV file: ";
    QTest::newRow("no WAVE at offset 8") << "" << QByteArray(good).replace(8, 4, "AVI ") << "Not a WAV file: ";
    QTest::newRow("text file") << "wavefile/invalid-bad_riff_header.wav" << QByteArray() << "Not a WAV file: ";
    QTest::newRow("8 bytes") << "wavefile/invalid-no_riff_format.wav" << QByteArray() << "Not a WAV file: ";
    // "WA" and the previous file's "VE" would make "WAVE".
    QTest::newRow("10 bytes ending in WA") << "wavefile/invalid-incomplete_riff_format.wav" << QByteArray()
                                           << "Not a WAV file: ";
    QTest::newRow("RIFF header only") << "wavefile/invalid-riff_chunk_has_no_child_chunks.wav" << QByteArray()
                                      << noFormat;
    QTest::newRow("format chunk id without size") << "wavefile/invalid-no_format_chunk_size.wav" << QByteArray()
                                                  << noFormat;
    QTest::newRow("A-law") << "wavefile/unsupported-unsupported_audio_format.wav" << QByteArray() << notPcm;
    QTest::newRow("float, 18-byte format chunk") << "hound/waveformatex-ieeefloat-44100Hz-mono.wav"
                                                 << QByteArray() << notPcm;
    QTest::newRow("IEEE float") << "sox/f32-mono.wav" << QByteArray() << notPcm;
    QTest::newRow("extensible float") << "hound/waveformatextensible-ieeefloat-44100Hz-mono.wav" << QByteArray()
                                      << notPcm;
    QTest::newRow("extensible unknown sub-format")
        << "wavefile/unsupported-extensible_unsupported_subformat_guid.wav" << QByteArray() << notPcm;
    QTest::newRow("extensible without its extension")
        << "wavefile/invalid-extensible_format_chunk_extension_missing.wav" << QByteArray() << notPcm;
    QTest::newRow("extensible cut inside its extension")
        << "wavefile/invalid-extensible_format_chunk_extension_incomplete.wav" << QByteArray() << notPcm;
    QTest::newRow("32-bit PCM") << "sox/s32-mono.wav" << QByteArray() << notWidth;
    QTest::newRow("24 valid bits in 32-bit containers")
        << "wavefile/unsupported-extensible_container_size_bigger_than_sample_size.wav" << QByteArray() << notWidth;
    QTest::newRow("24 valid bits in 32-bit containers, stereo")
        << "hound/waveformatextensible-24bit-4byte-48kHz-stereo.wav" << QByteArray() << notWidth;
    QTest::newRow("20-bit PCM") << "wavefile/unsupported-unsupported_bits_per_sample.wav" << QByteArray() << notWidth;
    QTest::newRow("empty format chunk") << "wavefile/invalid-empty_format_chunk.wav" << QByteArray() << incomplete;
    QTest::newRow("format chunk under 16 bytes") << "wavefile/invalid-insufficient_format_chunk.wav" << QByteArray()
                                                 << incomplete;
    QTest::newRow("header cut inside the format chunk") << "" << good.left(30) << incomplete;
    QTest::newRow("no data chunk") << "wavefile/invalid-no_data_chunk.wav" << QByteArray() << noData;
    QTest::newRow("file ends after the data id") << "wavefile/invalid-data_chunk_ends_after_chunk_id.wav"
                                                 << QByteArray() << noData;
    QTest::newRow("file ends inside the data size")
        << "wavefile/invalid-data_chunk_has_incomplete_chunk_size.wav" << QByteArray() << noData;
    QTest::newRow("chunk before data claiming 4 GiB") << "" << hugeList << noData;
    // The chunk walk goes by the ids, so the 44-byte layout alone no longer
    // passes for a file.
    QTest::newRow("canonical layout, no data id") << "" << QByteArray(good).replace(36, 4, "dat ") << noData;
    QTest::newRow("data before format") << "wavefile/invalid-format_chunk_after_data_chunk.wav" << QByteArray()
                                        << noFormat;
    QTest::newRow("odd format chunk without its pad byte")
        << "wavefile/invalid-format_chunk_with_extra_byte_and_missing_padding_byte.wav" << QByteArray() << noData;
    QTest::newRow("19-byte format chunk without its pad byte")
        << "wavefile/invalid-format_chunk_extra_bytes_with_odd_size_and_missing_padding_byte.wav" << QByteArray()
        << noData;
    QTest::newRow("fuzz: zero bits") << "hound/fuzz/crash-b8447179832529c48f9c6bf17feab6337bbc78ea.wav"
                                     << QByteArray() << notWidth;
    QTest::newRow("fuzz: garbage tag") << "hound/fuzz/crash-24728523ef4be15c838293b676f6853e73723bf4.wav"
                                       << QByteArray() << notPcm;
    QTest::newRow("fuzz: zero tag, zero channels")
        << "hound/fuzz/crash-cbd757427cea12bd8a21f86cd8cf74d98ce56bee.wav" << QByteArray() << notPcm;
    QTest::newRow("fuzz: short extensible") << "hound/fuzz/crash-e5471f5b58397287b509db7d026e95f1724454f5.wav"
                                            << QByteArray() << notPcm;
    QTest::newRow("fuzz: no format") << "hound/fuzz/crash-e879de4eb4d206c59e21f0e01def16457af80fdc.wav"
                                     << QByteArray() << noFormat;
    QTest::newRow("fuzz: chunk of almost 3 GB") << "hound/fuzz/oom-48ae4cd061ff8578ad3f23dc87624bd365cf5216.wav"
                                                << QByteArray() << noFormat;
}

void WavFileTest::refuses()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QString path = dataPath(file);
    if (!bytes.isEmpty()) {
        path = dir.filePath(QStringLiteral("made.wav"));
        QFile made(path);
        QVERIFY(made.open(QIODevice::WriteOnly));
        made.write(bytes);
    }

    // A failed read leaves the samples of the last good one in place.
    WavFile wav;
    QVERIFY(wav.read(narrow(dataPath(QStringLiteral("sox/s16-mono.wav")))));
    const std::vector<double> before = wav.decodedSamples;
    const double *storage = wav.sampleData;

    StreamCapture errors(std::cerr);
    QVERIFY(!wav.read(narrow(path)));
    QCOMPARE(QString::fromStdString(errors.text()), message + path + QLatin1Char('\n'));
    QCOMPARE(wav.sampleCount, 101u);
    QCOMPARE(wav.rawBytesRead, qint64(202));
    QVERIFY(wav.decodedSamples == before);
    QCOMPARE(wav.sampleData, storage);
}

void WavFileTest::truncatedData_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<quint32>("claimed");
    QTest::addColumn<qint64>("held");

    QTest::newRow("sox file cut inside the data") << "sox/s16-truncated.wav" << 202u << qint64(56);
    QTest::newRow("60-byte file claiming 4 GiB") << "sox/s16-claims-4gib.wav" << 0xFFFFFFFFu << qint64(16);
    QTest::newRow("data chunk longer than the file")
        << "wavefile/invalid-data_chunk_truncated.wav" << 100000u << qint64(2240);
}

// Read as a cut-off file is: true, no report, nothing decoded. Only the bytes
// the file holds are allocated, reserved for, and written back.
void WavFileTest::truncatedData()
{
    QFETCH(QString, file);
    QFETCH(quint32, claimed);
    QFETCH(qint64, held);

    WavFile wav;
    StreamCapture errors(std::cerr);
    {
        AddressSpaceLimit limit;
        QVERIFY(wav.read(narrow(dataPath(file))));
    }
    QCOMPARE(errors.text(), std::string());
    QCOMPARE(wav.dataLength, claimed);
    QCOMPARE(wav.sampleCount, claimed / (wav.bitsPerSample / 8u));
    QCOMPARE(wav.rawBytesRead, held);
    QVERIFY(wav.decodedSamples.empty());
    QVERIFY(wav.decodedSamples.capacity() <= size_t(held));

    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.wav"));
    QVERIFY(wav.write(narrow(copy)));
    QCOMPARE(QFileInfo(copy).size(), 44 + held);
}

// A refused file leaves in the header fields the bytes it supplied, where the
// 44-byte layout puts them; bytes a short file does not reach keep the
// previous file's values.
void WavFileTest::failedReadLeavesFileHeader_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("supplied"); // header bytes that come from the file

    QByteArray notWave = canonicalFile(24, 2, QByteArray(6, 0));
    notWave.replace(8, 4, "AVI ");
    QByteArray floatTag = canonicalFile(16, 2, QByteArray(8, 0));
    putLe(floatTag, 20, 3, 2);
    QTest::newRow("not WAVE") << notWave << 44;
    QTest::newRow("float tag") << floatTag << 44;
    QTest::newRow("32 bits") << canonicalFile(32, 1, QByteArray(8, 0)) << 44;
    QTest::newRow("cut inside the format chunk") << canonicalFile(8, 2, QByteArray(2, 0)).left(30) << 30;
    QTest::newRow("10 bytes") << fileBytes(dataPath(QStringLiteral("wavefile/invalid-incomplete_riff_format.wav")))
                              << 10;
}

void WavFileTest::failedReadLeavesFileHeader()
{
    QFETCH(QByteArray, file);
    QFETCH(int, supplied);

    const QByteArray previous = fileBytes(dataPath(QStringLiteral("sox/s16-mono.wav"))).left(44);
    WavFile wav;
    QVERIFY(readBytes(wav, previous + QByteArray(202, 0)));
    QCOMPARE(headerOf(wav), previous);

    StreamCapture errors(std::cerr);
    QVERIFY(!readBytes(wav, file));
    QCOMPARE(headerOf(wav), file.left(supplied) + previous.mid(supplied));
}

// An empty data chunk reads as a success with no samples, and the data of the
// previous file stays. Headers that no stimulus can use (no channels, a rate
// of 0 Hz) are read as they are; the folder check refuses them.
void WavFileTest::emptyDataKeepsPreviousSamples_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("channels");
    QTest::addColumn<quint32>("rate");

    const auto corpus = [](const char *name) { return fileBytes(dataPath(QLatin1String(name))); };
    QTest::newRow("made") << canonicalFile(16, 1, QByteArray()) << 1 << 8000u;
    QTest::newRow("no samples") << corpus("wavefile/valid-no_samples.wav") << 1 << 44100u;
    QTest::newRow("no channels") << corpus("wavefile/unsupported-bad_channel_count.wav") << 0 << 44100u;
    QTest::newRow("rate of 0 Hz") << corpus("wavefile/unsupported-bad_sample_rate.wav") << 2 << 0u;
}

void WavFileTest::emptyDataKeepsPreviousSamples()
{
    QFETCH(QByteArray, file);
    QFETCH(int, channels);
    QFETCH(quint32, rate);

    WavFile wav;
    QVERIFY(wav.read(narrow(dataPath(QStringLiteral("sox/s8-stereo.wav")))));
    const std::vector<double> before = wav.decodedSamples;

    StreamCapture errors(std::cerr);
    QVERIFY(readBytes(wav, file));
    QCOMPARE(errors.text(), std::string());
    QCOMPARE(int(wav.numChannels), channels);
    QCOMPARE(wav.sampleRate, rate);
    QCOMPARE(wav.dataLength, 0u);
    QCOMPARE(wav.sampleCount, 0u);
    QCOMPARE(wav.rawBytesRead, qint64(80));
    QVERIFY(wav.decodedSamples == before);
}

// A stream that cannot seek (a pipe) takes another path through the chunks
// and grows its buffer as bytes arrive; it must read every file as a seekable
// one does.
void WavFileTest::unseekableStreamReadsAlike_data()
{
    QTest::addColumn<QByteArray>("file");

    const auto corpus = [](const char *name) { return fileBytes(dataPath(QLatin1String(name))); };
    QByteArray long16 = canonicalFile(16, 1, QByteArray(300000, '\x35'));
    QTest::newRow("canonical") << corpus("sox/s16-mono.wav");
    QTest::newRow("longer than one growth step") << long16;
    QTest::newRow("LIST chunk before data") << corpus("hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav");
    QTest::newRow("JUNK, bext and minf chunks") << corpus("hound/nonstandard-01.wav");
    QTest::newRow("17-byte format chunk and pad byte")
        << corpus("wavefile/valid-format_chunk_with_extra_byte_and_padding_byte.wav");
    QTest::newRow("extensible 24-bit") << corpus("sox/s24-mono-odd.wav");
    QTest::newRow("cut inside the data") << corpus("sox/s16-truncated.wav");
    QTest::newRow("claiming 4 GiB") << corpus("sox/s16-claims-4gib.wav");
    QTest::newRow("cut inside a long data chunk") << long16.left(200000);
    QTest::newRow("no data chunk") << corpus("wavefile/invalid-no_data_chunk.wav");
    QTest::newRow("cut inside the format chunk") << corpus("sox/s16-mono.wav").left(30);
}

void WavFileTest::unseekableStreamReadsAlike()
{
    QFETCH(QByteArray, file);

    WavFile seekable;
    StreamCapture errors(std::cerr);
    const bool seekableOk = readBytes(seekable, file);
    const std::string seekableErrors = errors.text();

    WavFile unseekable;
    PipeBuffer pipe(file);
    std::istream in(&pipe);
    QCOMPARE(unseekable.readFrom(in, "memory.wav"), seekableOk);
    QCOMPARE(errors.text(), seekableErrors + seekableErrors);
    QCOMPARE(headerOf(unseekable), headerOf(seekable));
    QCOMPARE(unseekable.rawBytesRead, seekable.rawBytesRead);
    QCOMPARE(unseekable.sampleCount, seekable.sampleCount);
    QVERIFY(unseekable.decodedSamples == seekable.decodedSamples);
}

void WavFileTest::writeAppendsAndReadsBack_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("canonical");

    QTest::newRow("canonical, copied byte for byte") << "sox/s16-mono.wav" << true;
    QTest::newRow("LIST chunk before data") << "hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav" << false;
    QTest::newRow("extensible 24-bit") << "sox/s24-mono-odd.wav" << false;
}

void WavFileTest::writeAppendsAndReadsBack()
{
    QFETCH(QString, file);
    QFETCH(bool, canonical);

    WavFile original;
    QVERIFY(original.read(narrow(dataPath(file))));
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.wav"));
    QVERIFY(original.write(narrow(copy)));

    WavFile again;
    QVERIFY(again.read(narrow(copy)));
    QVERIFY(again.decodedSamples == original.decodedSamples);
    QCOMPARE(again.numChannels, original.numChannels);
    QCOMPARE(again.sampleRate, original.sampleRate);
    QCOMPARE(again.bitsPerSample, original.bitsPerSample);
    QCOMPARE(again.blockAlign, original.blockAlign);
    QCOMPARE(again.dataLength, original.dataLength);
    // Another layout is written as the canonical one, so that the 44 header
    // bytes describe what follows them.
    QCOMPARE(again.fmtSize, 16u);
    QCOMPARE(again.audioFormat, quint16(1));
    if (canonical)
        QCOMPARE(fileBytes(copy), fileBytes(dataPath(file)));
    else
        QCOMPARE(again.riffSize, 36 + again.dataLength);

    // Append mode: the second copy goes after the first.
    const QByteArray once = fileBytes(copy);
    QVERIFY(original.write(narrow(copy)));
    QCOMPARE(fileBytes(copy), once + once);
}

void WavFileTest::printsHeaderAndSamples()
{
    WavFile wav;
    QVERIFY(readBytes(wav, canonicalFile(16, 1, QByteArray("\x00\x80\xFF\x7F", 4))));
    StreamCapture out(std::cout);
    wav.printHeader();
    wav.printSamples();
    QCOMPARE(out.text(),
             std::string("RIFF header                : RIFF\n"
                         "WAVE header                : WAVE\n"
                         "FMT                        : fmt \n"
                         "Data size                  : 40\n"
                         "Sampling Rate              : 8000\n"
                         "Number of bits per sample  : 16\n"
                         "Number of channels         : 1\n"
                         "Number of bytes per second : 16000\n"
                         "Data length (bytes)        : 4\n"
                         "Audio Format               : 1\n"
                         "Block align                : 2\n"
                         "Data string                : data\n"
                         "-1\n"
                         "0.999969\n"));
}

void WavFileTest::convertSamplesOnItsOwn_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<quint32>("count");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("decoded");

    QTest::newRow("32 bits") << 32 << 2u << "32-bit PCM is not working yet.\n" << 0;
    QTest::newRow("12 bits") << 12 << 2u << "Not recognizable bits per sample. \n" << 0;
    QTest::newRow("count beyond the bytes held") << 16 << 1000000u << "" << 2;
}

void WavFileTest::convertSamplesOnItsOwn()
{
    QFETCH(int, bits);
    QFETCH(quint32, count);
    QFETCH(QString, message);
    QFETCH(int, decoded);

    WavFile wav;
    QVERIFY(readBytes(wav, canonicalFile(16, 1, QByteArray("\x00\x80\xFF\x7F", 4))));
    wav.bitsPerSample = quint16(bits);
    wav.sampleCount = count;
    StreamCapture errors(std::cerr);
    wav.convertSamples();
    QCOMPARE(QString::fromStdString(errors.text()), message);
    QCOMPARE(int(wav.decodedSamples.size()), decoded);
    QCOMPARE(wav.sampleData, wav.decodedSamples.data());
}

QTEST_GUILESS_MAIN(WavFileTest)
#include "tst_wavfile.moc"
