#include "experiment/TrialOrder.h"

#include <QRandomGenerator>

#include <utility>

quint64 boundedDraw(std::mt19937 &engine, quint64 lo, quint64 hi)
{
    constexpr quint64 outputMax = 4294967295u;
    const quint64 range = hi - lo;
    const quint64 scaling = outputMax / (range + 1);
    const quint64 limit = (range + 1) * scaling;
    quint64 value = 0;
    do {
        value = static_cast<quint64>(engine()) & outputMax;
    } while (value >= limit);
    return lo + value / scaling;
}

void shuffleTrialOrder(QVector<qint32> &order, std::mt19937 &engine)
{
    const quint64 n = static_cast<quint64>(order.size());
    if (n == 0)
        return;
    qint32 *a = order.data();

    if (4294967295u / n < n) {
        for (quint64 i = 1; i < n; ++i)
            std::swap(a[i], a[boundedDraw(engine, 0, i)]);
        return;
    }

    quint64 i = 1;
    if (n % 2 == 0) {
        std::swap(a[1], a[boundedDraw(engine, 0, 1)]);
        i = 2;
    }
    while (i < n) {
        const quint64 x = boundedDraw(engine, 0, (i + 1) * (i + 2) - 1);
        std::swap(a[i], a[x / (i + 2)]);
        std::swap(a[i + 1], a[x % (i + 2)]);
        i += 2;
    }
}

QVector<qint32> buildTrialOrder(qint32 numSoundFiles, qint32 repetitions, quint32 seed)
{
    QVector<qint32> order;
    if (numSoundFiles <= 0 || repetitions <= 0)
        return order;
    order.reserve(numSoundFiles * repetitions);
    for (qint32 r = 0; r < repetitions; ++r)
        for (qint32 j = 0; j < numSoundFiles; ++j)
            order.append(j);
    std::mt19937 engine(seed);
    shuffleTrialOrder(order, engine);
    return order;
}

quint32 drawTrialOrderSeed()
{
    return QRandomGenerator::system()->generate();
}
