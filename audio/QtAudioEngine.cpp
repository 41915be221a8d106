#include "audio/QtAudioEngine.h"

#include <QAudioFormat>
#include <QBuffer>
#include <QDebug>
#include <QPointer>
#include <QTimer>
#include <QtEndian>

#include <cmath>
#include <deque>

// Qt 6 renamed the output classes and moved the device list; the rest of the
// engine is written once against these names.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>
using OutputDevice = QAudioDevice;
using Sink = QAudioSink;
namespace {
OutputDevice defaultOutputDevice() { return QMediaDevices::defaultAudioOutput(); }
QList<OutputDevice> outputDevicesOfQt() { return QMediaDevices::audioOutputs(); }
QString nameOf(const OutputDevice &device) { return QString::fromUtf8(device.id()); }
QString descriptionOf(const OutputDevice &device) { return device.description(); }
void setMonoFloat(QAudioFormat &format, int rateHz)
{
    format.setSampleRate(rateHz);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Float);
}
} // namespace
#else
#include <QAudioDeviceInfo>
#include <QAudioOutput>
using OutputDevice = QAudioDeviceInfo;
using Sink = QAudioOutput;
namespace {
OutputDevice defaultOutputDevice() { return QAudioDeviceInfo::defaultOutputDevice(); }
QList<OutputDevice> outputDevicesOfQt() { return QAudioDeviceInfo::availableDevices(QAudio::AudioOutput); }
QString nameOf(const OutputDevice &device) { return device.deviceName(); }
QString descriptionOf(const OutputDevice &device) { return device.deviceName(); }
void setMonoFloat(QAudioFormat &format, int rateHz)
{
    format.setSampleRate(rateHz);
    format.setChannelCount(1);
    format.setSampleSize(32);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::Float);
}
} // namespace
#endif

namespace {

// Bytes an output holds ahead of the device. Small, so that the end of a
// sound is known soon after the output took its last sample; large enough
// for the audio server to be fed without gaps.
constexpr int outputBufferMs = 40;

// Time granted after what an output still held should have played, before
// it is stopped.
constexpr int playOutMarginMs = 10;

} // namespace

struct QtAudioEngine::Output
{
    struct Sound
    {
        quint64 id = 0;
        QVector<float> samples;
        qint64 onsetNs = 0;
    };

    QAudioFormat format;
    OutputDevice deviceInfo;
    QString deviceName;
    int rate = 0;
    bool open = false;

    quint64 nextId = 1;
    std::deque<Sound> waiting;
    QTimer startTimer;

    // The sound that plays, and its output; outputs that have taken their
    // last sample play out on their own before they go.
    Sound current;
    QPointer<Sink> output;
    QBuffer *buffer = nullptr;
    qint64 startNs = 0;
    QVector<QPointer<Sink>> retiring;
};

QtAudioEngine::QtAudioEngine(QObject *parent)
    : AudioEngine(parent)
    , d(std::make_unique<Output>())
{
    d->startTimer.setSingleShot(true);
    // A precise timer never fires before its time and at most about a
    // millisecond after it.
    d->startTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->startTimer, &QTimer::timeout, this, &QtAudioEngine::start);
}

QtAudioEngine::~QtAudioEngine()
{
    close();
}

bool QtAudioEngine::open(int rateHz, const QString &device, QString *errorText)
{
    close();
    auto fail = [errorText](const QString &reason) {
        if (errorText)
            *errorText = reason;
        return false;
    };
    if (rateHz < 1 || rateHz > maximumRateHz()) {
        return fail(QStringLiteral("the audio output plays rates from 1 to %1 Hz, and the sounds have %2 Hz")
                        .arg(maximumRateHz()).arg(rateHz));
    }
    d->deviceInfo = defaultOutputDevice();
    if (!device.isEmpty()) {
        for (const OutputDevice &info : outputDevicesOfQt()) {
            if (nameOf(info) == device)
                d->deviceInfo = info;
        }
    }
    if (d->deviceInfo.isNull())
        return fail(QStringLiteral("no audio output device was found (no audio server runs, or it has no output)"));

    setMonoFloat(d->format, rateHz);
    if (!d->deviceInfo.isFormatSupported(d->format)) {
        return fail(QStringLiteral("the audio output %1 does not take %2 Hz mono 32-bit float sound")
                        .arg(descriptionOf(d->deviceInfo), QString::number(rateHz)));
    }
    d->rate = rateHz;
    d->deviceName = device;
    d->open = true;
    qInfo().noquote() << "Audio output: Qt Multimedia," << descriptionOf(d->deviceInfo);
    return true;
}

void QtAudioEngine::close()
{
    cancel();
    d->open = false;
}

bool QtAudioEngine::isOpen() const
{
    return d->open;
}

int QtAudioEngine::rateHz() const
{
    return d->rate;
}

QString QtAudioEngine::device() const
{
    return d->deviceName;
}

quint64 QtAudioEngine::play(const QVector<float> &samples, qint64 onsetNs)
{
    const quint64 id = d->nextId++;
    if (!d->open || samples.isEmpty())
        return id;
    d->waiting.push_back({id, samples, onsetNs});
    if (!d->output && !d->startTimer.isActive()) {
        const qint64 waitNs = std::max<qint64>(onsetNs - monotonicNowNs(), 0);
        d->startTimer.start(int((waitNs + 999'999) / 1'000'000));
    }
    return id;
}

void QtAudioEngine::start()
{
    if (d->waiting.empty())
        return;
    // The timer has whole milliseconds; the rest of the wait is under one.
    const qint64 remainingNs = d->waiting.front().onsetNs - monotonicNowNs();
    if (remainingNs > 0) {
        d->startTimer.start(int((remainingNs + 999'999) / 1'000'000));
        return;
    }
    d->current = d->waiting.front();
    d->waiting.pop_front();

    QByteArray bytes(d->current.samples.size() * int(sizeof(float)), Qt::Uninitialized);
    qToLittleEndian<float>(d->current.samples.constData(), d->current.samples.size(), bytes.data());
    d->buffer = new QBuffer;
    d->buffer->setData(bytes);
    d->buffer->open(QIODevice::ReadOnly);

    d->output = new Sink(d->deviceInfo, d->format, this);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // (Qt 6's output with a buffer this small never reports that it has
    // played everything; there it keeps its own size.)
    d->output->setBufferSize(d->format.bytesForDuration(outputBufferMs * 1000));
#endif
    d->buffer->setParent(d->output);
    connect(d->output.data(), &Sink::stateChanged, this, &QtAudioEngine::stateChanged);
    d->startNs = monotonicNowNs();
    d->output->start(d->buffer);
}

void QtAudioEngine::stateChanged()
{
    Sink *output = d->output;
    if (!output || sender() != output)
        return;
    if (output->state() == QAudio::StoppedState && output->error() != QAudio::NoError) {
        release();
        d->waiting.clear();
        emit failed(QStringLiteral("the audio output stopped with an error (Qt audio error %1)")
                        .arg(int(output->error())));
        return;
    }
    if (output->state() != QAudio::IdleState)
        return;

    // The output has handed its last sample to the server, which may still
    // hold up to one output buffer of it.
    const qint64 heldNs = d->format.durationForBytes(output->bufferSize()) * 1000;
    SoundTiming timing;
    timing.soundId = d->current.id;
    timing.frames = d->current.samples.size();
    timing.requestedOnsetNs = d->current.onsetNs;
    timing.endNs = monotonicNowNs() + heldNs;
    timing.onsetNs = std::max(d->startNs, timing.endNs - timing.frames * 1'000'000'000 / d->rate);
    timing.latencyNs = heldNs;

    disconnect(output, nullptr, this, nullptr);
    d->retiring.append(output);
    d->output.clear();
    d->buffer = nullptr;
    QTimer::singleShot(int(heldNs / 1'000'000) + playOutMarginMs, output, [output] {
        output->stop();
        output->deleteLater();
    });

    emit soundPlaced(timing);
    if (!d->waiting.empty() && !d->startTimer.isActive())
        start();
}

void QtAudioEngine::release()
{
    d->startTimer.stop();
    if (d->output) {
        disconnect(d->output.data(), nullptr, this, nullptr);
        d->retiring.append(d->output);
    }
    for (const QPointer<Sink> &output : std::as_const(d->retiring)) {
        if (output) {
            output->stop();
            output->deleteLater();
        }
    }
    d->retiring.clear();
    d->output.clear();
    d->buffer = nullptr;
}

void QtAudioEngine::cancel()
{
    d->waiting.clear();
    release();
}

AudioOutputInfo QtAudioEngine::outputInfo() const
{
    AudioOutputInfo info;
    info.backend = QStringLiteral("Qt Multimedia");
    info.device = descriptionOf(d->deviceInfo);
    info.volume = QStringLiteral("100 %");
    return info;
}

qint64 QtAudioEngine::outputLatencyNs() const
{
    return d->output ? d->format.durationForBytes(d->output->bufferSize()) * 1000
                     : qint64(outputBufferMs) * 1'000'000;
}

int QtAudioEngine::maximumRateHz() const
{
    // The highest rate the audio servers under Qt's output take (PulseAudio's).
    return 384000;
}

QVector<AudioDeviceDescription> QtAudioEngine::outputDevices() const
{
    QVector<AudioDeviceDescription> devices;
    for (const OutputDevice &info : outputDevicesOfQt())
        devices.append({nameOf(info), descriptionOf(info)});
    return devices;
}
