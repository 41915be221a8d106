#ifndef PULSEAUDIOENGINE_H
#define PULSEAUDIOENGINE_H

#include "audio/AudioEngine.h"

#include <memory>

// The audio engine on libpulse, the client library of PulseAudio that
// PipeWire's pulse server speaks too. One playback stream runs from open()
// to close() on libpulse's threaded main loop, fed with silence between
// sounds; each sound is written at the stream position that the device
// plays at the requested time, read off the stream's smoothed timing.
class PulseAudioEngine final : public AudioEngine
{
    Q_OBJECT

public:
    explicit PulseAudioEngine(QObject *parent = nullptr);
    ~PulseAudioEngine() override;

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
    void setIdle(bool idle) override;
    bool deviceProgressing() const override;

    // The audio server's name and version ("pulseaudio 16.1", "PulseAudio
    // (on PipeWire 0.3.65) 15.0.0"), asked on a short connection of its own;
    // empty when no server answers.
    static QString serverName();

    // Underruns of the stream since open(): the server found no data where
    // it needed some. Each one is also written to the debug log.
    int underrunCount() const;

    struct Stream;

private:
    std::unique_ptr<Stream> d;
};

#endif // PULSEAUDIOENGINE_H
