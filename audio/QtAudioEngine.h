#ifndef QTAUDIOENGINE_H
#define QTAUDIOENGINE_H

#include "audio/AudioEngine.h"

#include <memory>

// The audio engine on Qt Multimedia, for platforms without libpulse (and,
// where both are built, chosen with TARQUEL_AUDIO_BACKEND=qt). Qt's output
// gives no timing of the device, so each sound gets an output of its own,
// started by a precise timer at its onset; its end is estimated when the
// output has taken the last sample, as that moment plus what the output
// still holds. Onsets are never early, but carry the server's start-up delay.
class QtAudioEngine final : public AudioEngine
{
    Q_OBJECT

public:
    explicit QtAudioEngine(QObject *parent = nullptr);
    ~QtAudioEngine() override;

    bool open(int rateHz, const QString &device, QString *errorText) override;
    void close() override;
    bool isOpen() const override;
    int rateHz() const override;
    QString device() const override;
    quint64 play(const QVector<float> &samples, qint64 onsetNs) override;
    void cancel() override;
    AudioOutputInfo outputInfo() const override;
    qint64 outputLatencyNs() const override;
    int maximumRateHz() const override;
    QVector<AudioDeviceDescription> outputDevices() const override;

    struct Output;

private:
    void start();
    void stateChanged();
    void release();

    std::unique_ptr<Output> d;
};

#endif // QTAUDIOENGINE_H
