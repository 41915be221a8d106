#ifndef TRIALORDER_H
#define TRIALORDER_H

#include <QVector>

#include <random>

// The seed with which the trial order of the reference vectors is drawn: the
// first output of a default-seeded (5489) MT19937 engine.
constexpr quint32 referenceTrialOrderSeed = 3499211612u;

// A uniform draw from lo..hi (inclusive) out of 32-bit engine outputs, by
// rejection of the outputs at or above the largest multiple of (hi - lo + 1).
// hi - lo must be below 4294967295.
quint64 boundedDraw(std::mt19937 &engine, quint64 lo, quint64 hi);

// Shuffles order in place. Lists of up to 65535 entries take their swap
// partners two at a time from one draw; longer lists one at a time. The
// steps are fixed so that one seed gives one order on every platform and
// standard library.
void shuffleTrialOrder(QVector<qint32> &order, std::mt19937 &engine);

// The trial order of a session: the sound-file indices 0 .. numSoundFiles - 1
// repeated `repetitions` times, shuffled by an MT19937 engine seeded with
// `seed`. Empty when either count is not positive.
QVector<qint32> buildTrialOrder(qint32 numSoundFiles, qint32 repetitions, quint32 seed);

// A fresh seed from the operating system's entropy source, so that every
// session gets its own order; the seed is kept with the session's data so
// that the order can be reproduced.
quint32 drawTrialOrderSeed();

#endif // TRIALORDER_H
