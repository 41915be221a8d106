#ifndef INPUTRECORDER_H
#define INPUTRECORDER_H

#include "loopback/TimingCheckAnalysis.h"
#include "loopback/TimingCheckInput.h"

#include <QString>
#include <QVector>

#include <memory>
#include <vector>

// Records an input of the audio server through libpulse, which PulseAudio
// and PipeWire's pulse server both speak: one record stream, 32-bit float
// mono at the input's own rate (so that the server resamples nothing on the
// way in), read on libpulse's own thread. Every 2 to 4 ms the server is
// asked for its timing: what it had written to the stream, and the input's
// latency (the source latency), at which moment; each answer is a report of
// the recording's timeline (RecordingTimeline).
//
// A real input is asked for a short latency (20 ms), so that the recording
// keeps close to the device. A monitor is asked for none: its latency is
// the output's, which would follow the request, and the output is to be
// measured as it runs.
class InputRecorder
{
public:
    InputRecorder();
    ~InputRecorder();
    InputRecorder(const InputRecorder &) = delete;
    InputRecorder &operator=(const InputRecorder &) = delete;

    // Starts recording the input (a source's name). Blocks until the stream
    // records or fails, a few seconds at most; on failure returns false with
    // the reason in plain words.
    bool start(const QString &input, QString *errorText);
    void stop();
    bool isRecording() const;
    // Why the recording stopped by itself (the input was removed, the server
    // went away); empty while it runs.
    QString failure() const;

    // What has been recorded so far, copied.
    CheckRecording recording() const;

    // The server's inputs, monitors included, and its default output's name
    // (*defaultOutput), on a short connection of its own; empty when no
    // server answers.
    static QVector<AudioInputDescription> inputDevices(QString *defaultOutput = nullptr);
    // The server's default output's name; empty when no server answers.
    static QString defaultOutput();

    struct Stream;

private:
    std::unique_ptr<Stream> d;
};

#endif // INPUTRECORDER_H
