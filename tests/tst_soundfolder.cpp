// The stimulus folder without any widget: which entries are listed, which
// files are refused and why, the rate a folder shares, the warning's text,
// and what is taken from a sound the reader did not decode.

#include "stimuli/SoundFolder.h"
#include "stimuli/TrialSound.h"
#include "wav/WavFile.h"

#include <QDataStream>
#include <QDir>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <langinfo.h>

#include <cstdio>

namespace {

const QString stimuliData = QStringLiteral(TARQUEL_TEST_DATA "/stimuli");
const QString wavData = QStringLiteral(TARQUEL_TEST_DATA "/wav");

bool touch(const QString &path, const QByteArray &content = QByteArray())
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class SoundFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void listingTakesWavFilesInNameOrder();
    void emptyPathListsNothing();
    void refusalReasons_data();
    void refusalReasons();
    void usableFiles_data();
    void usableFiles();
    void unreadableAndEmptyFiles();
    void mixedRatesAreNamed();
    void warningListsEveryFile();
    void firstChannelRefusesWhatWasNotDecoded();
    void lengthBounds();
    void namesThatWouldBreakTheFiles();
    void namesInALatin1Locale();
    void latin1LocaleChild();
};

namespace {

// A canonical 8-bit mono header announcing `frames` samples, followed by
// only a few of them: enough for the header to be judged.
void writeAnnouncing(const QString &path, quint32 frames, quint32 rate = 768000)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + frames);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << rate << rate << quint16(1) << quint16(8);
    out.writeRawData("data", 4);
    out << frames;
    out.writeRawData("0123456789abcdef", 16);
}

} // namespace

// The longest sound the program can hold in its Qt 5 containers is taken;
// one sample more is refused in plain words (it once passed and ended the
// program at "Practice"), as is one that this computer's memory cannot hold.
void SoundFolderTest::lengthBounds()
{
    QTemporaryDir dir;
    writeAnnouncing(dir.filePath("above.wav"), quint32(maxStimulusFrames + 1));
    writeAnnouncing(dir.filePath("at.wav"), quint32(maxStimulusFrames));
    const SoundFolderCheck check = checkSoundFiles(dir.path(), {"above.wav", "at.wav"});
    QCOMPARE(check.problems.size(), 2);
    QVERIFY2(check.problems[0].reason.startsWith("is too long: 134217727 samples per channel (174.8 s)"),
             qPrintable(check.problems[0].reason));
    QVERIFY2(check.problems[1].reason.startsWith("is cut short"), qPrintable(check.problems[1].reason));

    const SoundFolderCheck small = checkSoundFiles(stimuliData, {"short-4000.wav"}, maxStimulusRate, 100'000);
    QCOMPARE(small.problems.size(), 1);
    QVERIFY2(small.problems[0].reason.startsWith("is too long for this computer: loading, drawing and playing it "
                                                 "takes about 0.4 MB of memory, and the program may use 0.1 MB here"),
             qPrintable(small.problems[0].reason));
    const SoundFolderCheck fits = checkSoundFiles(stimuliData, {"short-4000.wav"}, maxStimulusRate,
                                                  stimulusMemoryBudget());
    QVERIFY(fits.usable());
    QCOMPARE(fits.frames, QVector<qint64>{4000});
}

// A tab or a line break would split a row of the tab-separated files, and
// readers that take '#' as a comment (R's read.delim, pandas) would cut a row
// at a '#'; a name the locale cannot encode would be written as "?" to the
// results file.
void SoundFolderTest::namesThatWouldBreakTheFiles()
{
    QTemporaryDir dir;
    const QStringList names{"tab\there.wav", "line\nbreak.wav", "#3.wav", "tone#3.wav", "fine.wav"};
    for (const QString &name : names)
        QVERIFY(QFile::copy(stimuliData + "/short-4000.wav", dir.filePath(name)));
    const SoundFolderCheck check = checkSoundFiles(dir.path(), names);
    QCOMPARE(check.problems.size(), 4);
    QVERIFY(check.problems[0].reason.startsWith("has a tab or a line break in its name"));
    QVERIFY(check.problems[1].reason.startsWith("has a tab or a line break in its name"));
    for (int i : {2, 3})
        QVERIFY2(check.problems[i].reason.startsWith("has a '#' in its name"), qPrintable(check.problems[i].reason));
    QCOMPARE(check.frames, (QVector<qint64>{0, 0, 0, 0, 4000}));

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // (Qt 6 writes UTF-8 everywhere, which holds every name.)
    QTextCodec *saved = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const QString japanese = fileNameProblem(QStringLiteral("\u65e5\u672c.wav"));
    const QString french = fileNameProblem(QStringLiteral("caf\u00e9.wav"));
    QTextCodec::setCodecForLocale(saved);
    QVERIFY2(japanese.contains("(ISO-8859-1) cannot write"), qPrintable(japanese));
    QVERIFY(french.isEmpty());
#endif
}

// "t\u00e9.wav" named in Latin-1 (bytes 74 E9 ...) under a Latin-1 locale,
// made here without root; the checks run in a child started under it. Where
// file names are read as UTF-8 whatever the locale (Qt 6, Debian's Qt 5 with
// ICU), the toolkit's listing drops the file without a word: it must be
// refused by name instead. Where they are read in Latin-1, the file must be
// usable, the WAV reader given its name in that encoding.
void SoundFolderTest::namesInALatin1Locale()
{
    const QString localedef = QStandardPaths::findExecutable("localedef");
    if (localedef.isEmpty())
        QSKIP("localedef is not installed (Debian's libc-bin), so no Latin-1 locale can be made");
    QTemporaryDir locales;
    QTemporaryDir folder;
    QProcess make;
    make.setProcessChannelMode(QProcess::MergedChannels);
    make.start(localedef, {"-i", "fr_FR", "-f", "ISO-8859-1", locales.filePath("fr_FR.ISO-8859-1")});
    QVERIFY(make.waitForFinished(120000));
    QVERIFY2(QFileInfo::exists(locales.filePath("fr_FR.ISO-8859-1/LC_CTYPE")), make.readAll().constData());
    QVERIFY(QFile::copy(stimuliData + "/short-4000.wav", folder.filePath("x")));
    QCOMPARE(::rename(QFile::encodeName(folder.filePath("x")), QFile::encodeName(folder.path()) + "/t\xe9.wav"), 0);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LOCPATH", locales.path());
    environment.insert("LC_ALL", "fr_FR.ISO-8859-1");
    environment.insert("TARQUEL_LATIN1_FOLDER", folder.path());
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"latin1LocaleChild"});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    QVERIFY2(child.exitCode() == 0 && output.contains("PASS   : SoundFolderTest::latin1LocaleChild()"), output);
}

void SoundFolderTest::latin1LocaleChild()
{
    const QString folder = qEnvironmentVariable("TARQUEL_LATIN1_FOLDER");
    if (folder.isEmpty())
        QSKIP("runs only as the child of namesInALatin1Locale");
    const QString name = QStringLiteral("t\u00e9.wav");
    if (QFile::decodeName("t\xe9.wav") != name) {
        const SoundFolderCheck check = checkSoundFiles(folder, listWavFileNames(folder));
        QCOMPARE(check.problems.size(), 1);
        QCOMPARE(check.problems[0].reason, QStringLiteral("has a name that is not valid UTF-8 text, the encoding "
                                                          "this program reads file names in; rename it"));
    }
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 reads names in the locale's encoding when it is told it.
    QCOMPARE(QByteArray(nl_langinfo(CODESET)), QByteArray("ISO-8859-1"));
    QTextCodec *saved = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
    const QStringList names = listWavFileNames(folder);
    const SoundFolderCheck check = checkSoundFiles(folder, names);
    WavFile wav;   // as a trial loads it
    const bool read = wav.read(fileSystemPath(folder + '/' + name));
    QTextCodec::setCodecForLocale(saved);
    QCOMPARE(names, QStringList{name});
    QVERIFY2(check.usable(), check.problems.isEmpty() ? "" : qPrintable(check.problems[0].reason));
    QVERIFY(read);
#endif
}

void SoundFolderTest::listingTakesWavFilesInNameOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"b.wav", "A.wav", "c.WAV", "x.Wav", "x.wave", "x.wav.bak", "wav", "notes.txt",
                             ".hidden.wav", "a.wav.wav"})
        QVERIFY(touch(dir.filePath(QString::fromLatin1(name))));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("y.wav")));
    // A link to a sound elsewhere is a file as far as the folder is concerned.
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("b.wav")), dir.filePath(QStringLiteral("d.wav"))));

    QCOMPARE(listWavFileNames(dir.path()),
             QStringList({"A.wav", "a.wav.wav", "b.wav", "c.WAV", "d.wav", "x.Wav"}));
}

void SoundFolderTest::emptyPathListsNothing()
{
    // An empty path is the absence of a folder, not the current directory,
    // even when that holds sound files.
    QTemporaryDir dir;
    QVERIFY(touch(dir.filePath(QStringLiteral("here.wav"))));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const QStringList names = listWavFileNames(QString());
    QDir::setCurrent(previous);
    QVERIFY(names.isEmpty());
}

void SoundFolderTest::refusalReasons_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");

    // Made with sox by tests/data/stimuli/make.sh.
    QTest::newRow("three channels") << stimuliData + "/three-channels.wav" << "has 3 channels";
    QTest::newRow("zero channels") << stimuliData + "/zero-channels.wav" << "declares no channels";
    QTest::newRow("zero rate") << stimuliData + "/zero-rate.wav" << "a sampling rate of 0 Hz";
    QTest::newRow("rate too high") << stimuliData + "/rate-800000.wav" << "800000 Hz; at most 768000 Hz";
    QTest::newRow("cut short") << stimuliData + "/cut-short.wav"
                               << "is cut short: its header announces 8000 bytes of sound, the file holds 956";
    QTest::newRow("no samples") << stimuliData + "/no-samples.wav" << "holds no sound (0 samples)";
    QTest::newRow("one sample") << stimuliData + "/one-sample.wav" << "holds only 1 sample";
    QTest::newRow("float") << stimuliData + "/float.wav" << "floating-point samples";
    QTest::newRow("compressed") << stimuliData + "/adpcm-tag.wav" << "format code 2";
    QTest::newRow("wide frames") << stimuliData + "/wide-frames.wav" << "4 bytes per frame";

    // Files written by other programs (see tests/data/wav/*/LICENSE).
    QTest::newRow("24 bits in 4 bytes") << wavData + "/hound/pcmwaveformat-24bit-4byte-48kHz-stereo.wav"
                                        << "8 bytes per frame, where 2 channel(s) of 24 bits take 6";
    QTest::newRow("32 bits") << wavData + "/hound/waveformatextensible-32bit-48kHz-stereo.wav"
                             << "has 32 bits per sample";
    QTest::newRow("fuzzed format") << wavData + "/hound/fuzz/crash-24728523ef4be15c838293b676f6853e73723bf4.wav"
                                   << "format code 17920";
    QTest::newRow("one frame") << wavData + "/hound/nonstandard-01.wav" << "holds only 1 sample";
    QTest::newRow("truncated data") << wavData + "/wavefile/invalid-data_chunk_truncated.wav" << "is cut short";
    QTest::newRow("no data chunk") << wavData + "/wavefile/invalid-no_data_chunk.wav" << "no data chunk";
    QTest::newRow("format after data") << wavData + "/wavefile/invalid-format_chunk_after_data_chunk.wav"
                                       << "no format description";
    QTest::newRow("empty format") << wavData + "/wavefile/invalid-empty_format_chunk.wav"
                                  << "format description is incomplete";
    QTest::newRow("extensible, not PCM")
        << wavData + "/wavefile/unsupported-extensible_unsupported_subformat_guid.wav"
        << "does not declare linear PCM";
    QTest::newRow("20 bits") << wavData + "/wavefile/unsupported-unsupported_bits_per_sample.wav"
                             << "has 20 bits per sample";
    QTest::newRow("no RIFF header") << wavData + "/wavefile/invalid-incomplete_riff_header.wav"
                                    << "is not a WAV file";
}

void SoundFolderTest::refusalReasons()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QVERIFY2(QFile::exists(path), qPrintable(path));

    const QFileInfo info(path);
    const SoundFolderCheck check = checkSoundFiles(info.path(), {info.fileName()});
    QCOMPARE(check.problems.size(), 1);
    QCOMPARE(check.problems[0].fileName, info.fileName());
    QVERIFY2(check.problems[0].reason.contains(reason), qPrintable(check.problems[0].reason));
    QVERIFY(!check.usable());
    QCOMPARE(check.sampleRate, 0u);

    // An audio output that stops lower (PulseAudio at 384 kHz) sets the limit.
    if (QTest::currentDataTag() == QByteArray("rate too high")) {
        const SoundFolderCheck lower = checkSoundFiles(info.path(), {info.fileName()}, 384000);
        QVERIFY(lower.problems.value(0).reason.endsWith(QStringLiteral("at most 384000 Hz can be played")));
    }
}

void SoundFolderTest::usableFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<quint32>("rate");

    QTest::newRow("two samples") << stimuliData + "/two-samples.wav" << 40000u;
    QTest::newRow("stereo") << stimuliData + "/stereo-3000.wav" << 40000u;
    QTest::newRow("44.1 kHz") << stimuliData + "/rate-44100.wav" << 44100u;
    QTest::newRow("example") << QStringLiteral(TARQUEL_SOURCE_DIR "/examples/step4.wav") << 40000u;
    QTest::newRow("LIST chunk") << wavData + "/hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav" << 44100u;
    QTest::newRow("extensible 24 bits") << wavData + "/hound/waveformatextensible-24bit-192kHz-mono.wav"
                                        << 192000u;
    QTest::newRow("8 bits, padding byte") << wavData + "/wavefile/valid-mono_pcm_8_44100_with_padding_byte.wav"
                                          << 44100u;
}

void SoundFolderTest::usableFiles()
{
    QFETCH(QString, path);
    QFETCH(quint32, rate);
    const QFileInfo info(path);
    const SoundFolderCheck check = checkSoundFiles(info.path(), {info.fileName()});
    QVERIFY2(check.usable(), check.problems.isEmpty() ? "" : qPrintable(check.problems[0].reason));
    QCOMPARE(check.sampleRate, rate);
}

void SoundFolderTest::unreadableAndEmptyFiles()
{
    QTemporaryDir dir;
    QVERIFY(touch(dir.filePath(QStringLiteral("empty.wav"))));
    QVERIFY(touch(dir.filePath(QStringLiteral("text.wav")), "These are notes, not a sound.\n"));
    QVERIFY(QFile::copy(stimuliData + "/short-4000.wav", dir.filePath(QStringLiteral("good.wav"))));

    const SoundFolderCheck check =
        checkSoundFiles(dir.path(), {"empty.wav", "gone.wav", "good.wav", "text.wav"});
    QCOMPARE(check.problems.size(), 3);
    QCOMPARE(check.problems[0].fileName, QStringLiteral("empty.wav"));
    QCOMPARE(check.problems[0].reason, QStringLiteral("is empty (0 bytes)"));
    QCOMPARE(check.problems[1].fileName, QStringLiteral("gone.wav"));
    QVERIFY2(check.problems[1].reason.startsWith("cannot be opened ("), qPrintable(check.problems[1].reason));
    QCOMPARE(check.problems[2].fileName, QStringLiteral("text.wav"));
    QCOMPARE(check.problems[2].reason, QStringLiteral("is not a WAV file"));
    // The usable file still sets the rate; the problems alone stop the folder.
    QCOMPARE(check.sampleRate, 40000u);
    QVERIFY(check.rateProblem.isEmpty());
    QVERIFY(!check.usable());
}

void SoundFolderTest::mixedRatesAreNamed()
{
    const SoundFolderCheck check = checkSoundFiles(
        stimuliData, {"long-12000.wav", "rate-44100.wav", "rate-48000.wav", "short-4000.wav", "stereo-3000.wav",
                      "two-samples.wav"});
    QVERIFY(check.problems.isEmpty());
    QVERIFY(!check.usable());
    QCOMPARE(check.sampleRate, 0u);
    // Rates in ascending order, each with its files; a long group is cut.
    QCOMPARE(check.rateProblem,
             QStringLiteral("The files do not share one sampling rate: "
                            "40000 Hz (long-12000.wav, short-4000.wav, stereo-3000.wav and 1 more); "
                            "44100 Hz (rate-44100.wav); 48000 Hz (rate-48000.wav). "
                            "A session plays all its stimuli at one rate."));
}

void SoundFolderTest::warningListsEveryFile()
{
    SoundFolderCheck check;
    check.problems = {{"a.wav", "is empty (0 bytes)"}, {"b.wav", "has 3 channels; a stimulus must have 1 or 2"}};
    check.rateProblem = QStringLiteral("The files do not share one sampling rate: 8000 Hz (c.wav); 9000 Hz (d.wav).");
    FolderWarning warning = describeUnusableFolder(QStringLiteral("/data/tones"), check);
    QCOMPARE(warning.text,
             QStringLiteral("These files in /data/tones cannot be used as stimuli:\n\n"
                            "a.wav is empty (0 bytes).\n"
                            "b.wav has 3 channels; a stimulus must have 1 or 2.\n\n"
                            "The files do not share one sampling rate: 8000 Hz (c.wav); 9000 Hz (d.wav).\n\n"
                            "Do you want to select another folder?"));
    QVERIFY(warning.details.isEmpty());

    // More files than a box can show: the text names the first ones and the
    // details every one.
    check.rateProblem.clear();
    check.problems.clear();
    const int count = filesListedInText + 5;
    for (int i = 0; i < count; ++i)
        check.problems.append({QStringLiteral("f%1.wav").arg(i, 2, 10, QLatin1Char('0')), "is empty (0 bytes)"});
    warning = describeUnusableFolder(QStringLiteral("/x"), check);
    QVERIFY(warning.text.contains(QStringLiteral("f%1.wav").arg(filesListedInText - 1, 2, 10, QLatin1Char('0'))));
    QVERIFY(!warning.text.contains(QStringLiteral("f%1.wav").arg(filesListedInText, 2, 10, QLatin1Char('0'))));
    QVERIFY(warning.text.contains(QStringLiteral("... and 5 more (see the details).")));
    QVERIFY(warning.text.endsWith(QStringLiteral("Do you want to select another folder?")));
    const QStringList lines = warning.details.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), count);
    QCOMPARE(lines.first(), QStringLiteral("f00.wav is empty (0 bytes)."));
    QCOMPARE(lines.last(), QStringLiteral("f%1.wav is empty (0 bytes).").arg(count - 1));
}

void SoundFolderTest::firstChannelRefusesWhatWasNotDecoded()
{
    WavFile wav;
    QVector<double> samples = {1.0, 2.0, 3.0};
    // The header announces 4000 samples, none were decoded: nothing of the
    // previous sound may stay behind to be played.
    QVERIFY(wav.read(QString(stimuliData + "/cut-short.wav").toStdString()));
    QVERIFY(!extractFirstChannel(wav, samples));
    QVERIFY(samples.isEmpty());

    samples = {1.0};
    QVERIFY(wav.read(QString(stimuliData + "/three-channels.wav").toStdString()));
    QVERIFY(!extractFirstChannel(wav, samples));
    QVERIFY(samples.isEmpty());
}

QTEST_GUILESS_MAIN(SoundFolderTest)
#include "tst_soundfolder.moc"
