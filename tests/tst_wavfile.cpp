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

namespace {

QString dataPath(const QString &name)
{
    return QStringLiteral(TARQUEL_TEST_DATA "/wav/") + name;
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

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    void emptyDataKeepsPreviousSamples();
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

    QTest::newRow("missing file") << "no-such-file.wav" << QByteArray() << "Unable to open WAV file: ";
    QTest::newRow("empty file") << "empty.wav" << QByteArray() << "Header size is zero. ";
    QTest::newRow("only the RIFF id") << "wavefile/invalid-incomplete_riff_header.wav" << QByteArray()
                                      << "Not a WAV file: ";
    QTest::newRow("no WAVE at offset 8") << "" << QByteArray(good).replace(8, 4, "AVI ") << "Not a WAV file: ";
    QTest::newRow("IEEE float") << "sox/f32-mono.wav" << QByteArray() << notPcm;
    QTest::newRow("extensible float") << "hound/waveformatextensible-ieeefloat-44100Hz-mono.wav" << QByteArray()
                                      << notPcm;
    QTest::newRow("extensible unknown sub-format")
        << "wavefile/unsupported-extensible_unsupported_subformat_guid.wav" << QByteArray() << notPcm;
    QTest::newRow("extensible without its extension")
        << "wavefile/invalid-extensible_format_chunk_extension_missing.wav" << QByteArray() << notPcm;
    QTest::newRow("32-bit PCM") << "sox/s32-mono.wav" << QByteArray() << notWidth;
    QTest::newRow("20-bit PCM") << "wavefile/unsupported-unsupported_bits_per_sample.wav" << QByteArray() << notWidth;
    QTest::newRow("empty format chunk") << "wavefile/invalid-empty_format_chunk.wav" << QByteArray() << incomplete;
    QTest::newRow("format chunk under 16 bytes") << "wavefile/invalid-insufficient_format_chunk.wav" << QByteArray()
                                                 << incomplete;
    QTest::newRow("header cut inside the format chunk") << "" << good.left(30) << incomplete;
    QTest::newRow("no data chunk") << "wavefile/invalid-no_data_chunk.wav" << QByteArray() << noData;
    QTest::newRow("data before format") << "wavefile/invalid-format_chunk_after_data_chunk.wav" << QByteArray()
                                        << noFormat;
    QTest::newRow("odd format chunk without its pad byte")
        << "wavefile/invalid-format_chunk_with_extra_byte_and_missing_padding_byte.wav" << QByteArray() << noData;
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
    QVERIFY(wav.read(narrow(dataPath(file))));
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

void WavFileTest::emptyDataKeepsPreviousSamples()
{
    WavFile wav;
    QVERIFY(wav.read(narrow(dataPath(QStringLiteral("sox/s8-stereo.wav")))));
    const std::vector<double> before = wav.decodedSamples;

    QVERIFY(readBytes(wav, canonicalFile(16, 1, QByteArray())));
    QCOMPARE(wav.dataLength, 0u);
    QCOMPARE(wav.sampleCount, 0u);
    QCOMPARE(wav.rawBytesRead, qint64(80));
    QVERIFY(wav.decodedSamples == before);
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
