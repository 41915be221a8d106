#ifndef TIMINGCHECKINPUT_H
#define TIMINGCHECKINPUT_H

#include <QString>
#include <QVector>

// An input the audio server offers for the loop-back check: a source, a
// sound card's line or microphone input, or the monitor of an output, which
// records what the server sends that output.
struct AudioInputDescription
{
    QString name;          // as the server names it
    QString description;   // what a person recognises it by
    QString monitorOf;     // the output whose monitor it is; empty for a real input
    QString activePort;    // the input's active port ("analog-input-linein"); empty where it has none
    int rateHz = 0;        // the input's own rate

    bool isMonitor() const { return !monitorOf.isEmpty(); }
    // A line input, by its active port's name.
    bool isLineInput() const;
};

// The input the check proposes for output: the one of the output's last
// check, where it is still there; else a line input, which a cable from the
// output feeds; else, on a computer without one, the output's monitor; else
// the first input. Empty when there is no input.
QString proposedTimingCheckInput(const QVector<AudioInputDescription> &inputs, const QString &output,
                                 const QString &lastInput);

#endif // TIMINGCHECKINPUT_H
