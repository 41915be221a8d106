#ifndef PIPEWIREENGINE_H
#define PIPEWIREENGINE_H

#include "audio/AudioEngine.h"

#include <memory>

// The audio engine on PipeWire's own client library. One playback stream runs
// from open() to close(), fed in the graph's own processing cycle on its
// real-time thread. At every cycle PipeWire says when the cycle started on the
// monotonic clock, how long the graph and the device take from there, and
// what sits in the stream's resampler: together, when the first frame written
// in this cycle reaches the device. Each sound is placed in the cycle that
// holds its onset, by that cycle's own timing, so a device that stalled or a
// graph that restarted is followed at the next cycle; sounds already playing
// when the timeline jumps get their timing revised.
//
// The device is named by its node name, which PipeWire's pulse server gives
// its sinks too, so that a remembered output survives a change of engine.
class PipeWireEngine final : public AudioEngine
{
    Q_OBJECT

public:
    explicit PipeWireEngine(QObject *parent = nullptr);
    ~PipeWireEngine() override;

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

    // Whether a PipeWire server answers on this computer (the pipewire-0
    // socket), within a short wait.
    static bool serverAvailable();

    // Cycles in which the stream had no buffer to fill, and timeline jumps
    // seen, since open().
    int underrunCount() const;
    int jumpCount() const;

    struct Stream;

private:
    void handleEvents();
    void checkProgress();
    void reportFailure(const QString &reason);

    std::unique_ptr<Stream> d;
};

#endif // PIPEWIREENGINE_H
