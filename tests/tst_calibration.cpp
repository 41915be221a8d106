#include "audio/OutputDeviceState.h"
#include "calibration/Calibration.h"

#include <QStandardPaths>
#include <QtTest>

#include <cmath>

// The output device's state as the journal writes it, the calibration tone,
// and the calibration's record, levels and storage.
class CalibrationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void toneIsTheCalibrationTone_data();
    void toneIsTheCalibrationTone();
    void rmsOfKnownSignals();
    void deviceStateInTheJournalsForm();
    void deviceChangesAsNoted();
    void calibrationRecordAndLevels();
    void storedPerDevice();
};

namespace {

OutputDeviceState stereoAt(double percent, const QString &port = QStringLiteral("analog-output-headphones"))
{
    OutputDeviceState state;
    state.known = true;
    state.device = QStringLiteral("alsa_output.usb-Booth");
    for (const char *name : {"front-left", "front-right"})
        state.channels.append({QString::fromLatin1(name), percent, volumePercentToDb(percent)});
    state.portName = port;
    state.portDescription = port.endsWith(QLatin1String("headphones")) ? QStringLiteral("Headphones")
                                                                         : QStringLiteral("Speakers");
    return state;
}

} // namespace

void CalibrationTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void CalibrationTest::toneIsTheCalibrationTone_data()
{
    QTest::addColumn<int>("rate");
    QTest::newRow("40000 Hz") << 40000;
    QTest::newRow("44100 Hz") << 44100;
    QTest::newRow("48000 Hz") << 48000;
    QTest::newRow("22050 Hz") << 22050;
}

// 1000 Hz at -20 dBFS RMS (peak 0.1414), a whole number of periods, so that
// copies played back to back continue the sine without a step.
void CalibrationTest::toneIsTheCalibrationTone()
{
    QFETCH(int, rate);
    const QVector<float> tone = calibrationTone(rate, 1.0);
    QVERIFY(std::abs(tone.size() - rate) <= rate / 100);
    QVector<double> samples(tone.begin(), tone.end());
    QVERIFY(std::abs(rmsDbfs(samples.constData(), samples.size()) - (-20.0)) < 0.001);
    const float peak = *std::max_element(tone.begin(), tone.end());
    QVERIFY(std::abs(peak - 0.141421f) < 0.0005f);
    // Rising zero crossings, counted across the join of two copies: one
    // per millisecond, and the join is one of them or between two.
    QVector<float> two = tone + tone;
    int rising = 0;
    for (int i = 1; i < two.size(); ++i) {
        if (two[i - 1] < 0.0f && two[i] >= 0.0f)
            ++rising;
    }
    const double seconds = double(two.size()) / rate;
    QVERIFY2(std::abs(rising - 1000.0 * seconds) <= 1.0, qPrintable(QString::number(rising)));
    // The sample after the last one of a copy is the first of the next: the
    // sine's continuation.
    const double next = 0.1 * std::sqrt(2.0) * std::sin(2 * M_PI * 1000.0 * tone.size() / rate);
    QVERIFY(std::abs(next - double(tone.first())) < 1e-6);
}

void CalibrationTest::rmsOfKnownSignals()
{
    const QVector<double> fullScaleSquare{1.0, -1.0, 1.0, -1.0};
    QCOMPARE(rmsDbfs(fullScaleSquare.constData(), 4), 0.0);
    // The first channel of a stereo file, every other sample: 0.5 there, 0.25
    // in the other channel.
    const QVector<double> stereo{0.5, 0.25, -0.5, 0.25};
    QVERIFY(std::abs(rmsDbfs(stereo.constData(), 2, 2) - 20 * std::log10(0.5)) < 1e-9);
    const QVector<double> silence(100, 0.0);
    QVERIFY(std::isinf(rmsDbfs(silence.constData(), silence.size())));
}

void CalibrationTest::deviceStateInTheJournalsForm()
{
    OutputDeviceState state = stereoAt(60.0);
    QCOMPARE(state.volumeText(), QStringLiteral("front-left 60 % (-13.31 dB)\tfront-right 60 % (-13.31 dB)"));
    QCOMPARE(state.mutedText(), QStringLiteral("no"));
    QCOMPARE(state.portText(), QStringLiteral("analog-output-headphones (Headphones)"));
    QVERIFY(!state.silent());
    state.channels[0].percent = state.channels[1].percent = 0.0;
    state.channels[0].dB = state.channels[1].dB = volumePercentToDb(0.0);
    QCOMPARE(state.volumeText(), QStringLiteral("front-left 0 % (-inf dB)\tfront-right 0 % (-inf dB)"));
    QVERIFY(state.silent());
    OutputDeviceState muted = stereoAt(100.0);
    muted.muted = true;
    QVERIFY(muted.silent());
    QCOMPARE(stereoAt(100.0).volumeText(), QStringLiteral("front-left 100 % (0.00 dB)\tfront-right 100 % (0.00 dB)"));
    OutputDeviceState portless = stereoAt(100.0);
    portless.portName.clear();
    QCOMPARE(portless.portText(), QStringLiteral("NA"));
    QCOMPARE(OutputDeviceState().volumeText(), QStringLiteral("NA"));
}

void CalibrationTest::deviceChangesAsNoted()
{
    const OutputDeviceState before = stereoAt(100.0);
    QVERIFY(outputDeviceChanges(before, before).isEmpty());
    QCOMPARE(outputDeviceChanges(before, stereoAt(60.0)),
             QStringList{QStringLiteral("the output device's volume changed from front-left 100 % (0.00 dB)\t"
                                        "front-right 100 % (0.00 dB) to front-left 60 % (-13.31 dB)\tfront-right "
                                        "60 % (-13.31 dB)")});
    OutputDeviceState muted = before;
    muted.muted = true;
    QCOMPARE(outputDeviceChanges(before, muted), QStringList{QStringLiteral("the output device was muted")});
    QCOMPARE(outputDeviceChanges(muted, before), QStringList{QStringLiteral("the output device was unmuted")});
    QCOMPARE(outputDeviceChanges(before, stereoAt(100.0, QStringLiteral("analog-output-speaker"))),
             QStringList{QStringLiteral("the output device's port changed from analog-output-headphones "
                                        "(Headphones) to analog-output-speaker (Speakers)")});
    QVERIFY(before.sameLevelAs(stereoAt(100.0)));
    QVERIFY(!before.sameLevelAs(stereoAt(99.0)));
    QVERIFY(!before.sameLevelAs(stereoAt(100.0, QStringLiteral("analog-output-speaker"))));
}

void CalibrationTest::calibrationRecordAndLevels()
{
    Calibration one;
    one.device = QStringLiteral("alsa_output.usb-Booth");
    one.readingsDbSpl = {84.0};
    one.weighting = QStringLiteral("A");
    one.date = QDateTime(QDate(2026, 12, 8), QTime(10, 30), QTimeZone(3600));
    one.deviceState = stereoAt(60.0);
    QCOMPARE(one.headerFields(), QStringLiteral("1000 Hz at -20.0 dBFS RMS\t84.0 dB SPL\tA\t2026-12-08T10:30:00+01:00"
                                                "\tfront-left 60 % (-13.31 dB)\tfront-right 60 % (-13.31 dB)"));
    // A stimulus 2 dB above the tone plays 2 dB above the reading.
    QCOMPARE(one.levelDbSpl(-18.0), 86.0);
    QVERIFY(std::isnan(one.levelDbSpl(-std::numeric_limits<double>::infinity())));

    Calibration two = one;
    two.readingsDbSpl = {84.0, 83.6};
    QVERIFY(two.headerFields().startsWith(
        QStringLiteral("1000 Hz at -20.0 dBFS RMS\tleft 84.0 dB SPL\tright 83.6 dB SPL\tA\t")));
    QCOMPARE(two.levelDbSpl(-30.0), 74.0);   // the first ear's reading
    QVERIFY(std::isnan(Calibration().levelDbSpl(-18.0)));
}

// One calibration per output, kept among the remembered settings with the
// device's volume and port exactly as they were, so that a run at the same
// setting is recognised as calibrated.
void CalibrationTest::storedPerDevice()
{
    Calibration booth;
    booth.device = QStringLiteral("alsa_output.usb-Booth/1");   // a '/' must not split the key
    booth.readingsDbSpl = {84.2, 83.9};
    booth.weighting = QStringLiteral("C");
    booth.date = QDateTime(QDate(2026, 12, 8), QTime(11, 0), QTimeZone(0));
    booth.deviceState = stereoAt(73.0);
    booth.deviceState.device = booth.device;
    saveCalibration(booth);
    QVERIFY(!loadCalibration(QStringLiteral("alsa_output.other")).isValid());

    const Calibration back = loadCalibration(booth.device);
    QVERIFY(back.isValid());
    QCOMPARE(back.readingsDbSpl, booth.readingsDbSpl);
    QCOMPARE(back.weighting, QStringLiteral("C"));
    QCOMPARE(back.date, booth.date);
    QVERIFY(back.deviceState.sameLevelAs(booth.deviceState));
    QCOMPARE(back.headerFields(), booth.headerFields());
}

QTEST_APPLESS_MAIN(CalibrationTest)
#include "tst_calibration.moc"
