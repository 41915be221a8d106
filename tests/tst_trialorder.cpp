#include "experiment/PcmConversion.h"
#include "experiment/TrialOrder.h"

#include <QtTest>

#include <numeric>
#include <random>

class TrialOrderTest : public QObject
{
    Q_OBJECT

private slots:
    void referenceSeedIsFirstDefaultOutput();
    void referenceOrders_data();
    void referenceOrders();
    void everyFileEqualOften_data();
    void everyFileEqualOften();
    void drawsMadeForSmallLists();
    void boundedDrawStaysInRange();
    void longListsShuffleOneAtATime();
    void emptyAndDegenerateSessions();
    void freshSeedsDiffer();
    void floatPcmBytes_data();
    void floatPcmBytes();
};

void TrialOrderTest::referenceSeedIsFirstDefaultOutput()
{
    std::mt19937 device;   // default seed 5489
    QCOMPARE(static_cast<quint32>(device()), referenceTrialOrderSeed);
}

void TrialOrderTest::referenceOrders_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<QVector<qint32>>("expected");
    QTest::newRow("2 files") << 2 << QVector<qint32>{1, 0, 0, 0, 1, 1};
    QTest::newRow("3 files") << 3 << QVector<qint32>{0, 1, 2, 0, 1, 0, 2, 1, 2};
    QTest::newRow("5 files") << 5 << QVector<qint32>{0, 2, 3, 4, 4, 3, 2, 1, 0, 1, 4, 2, 3, 1, 0};
    QTest::newRow("1 file") << 1 << QVector<qint32>{0, 0, 0};
}

void TrialOrderTest::referenceOrders()
{
    QFETCH(int, files);
    QFETCH(QVector<qint32>, expected);
    QCOMPARE(buildTrialOrder(files, 3, referenceTrialOrderSeed), expected);
    // The same size gives the same order again.
    QCOMPARE(buildTrialOrder(files, 3, referenceTrialOrderSeed), expected);
}

void TrialOrderTest::everyFileEqualOften_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("repetitions");
    QTest::newRow("practice, 5 files") << 5 << 3;
    QTest::newRow("experiment, 5 files") << 5 << 40;
    QTest::newRow("experiment, 7 files") << 7 << 40;
    QTest::newRow("one at a time, 1700 files") << 1700 << 40;   // 68000 trials
}

void TrialOrderTest::everyFileEqualOften()
{
    QFETCH(int, files);
    QFETCH(int, repetitions);
    const QVector<qint32> order = buildTrialOrder(files, repetitions, 12345u);
    QCOMPARE(order.size(), files * repetitions);
    QVector<int> counts(files, 0);
    for (qint32 index : order) {
        QVERIFY(index >= 0 && index < files);
        ++counts[index];
    }
    QCOMPARE(counts, QVector<int>(files, repetitions));
}

void TrialOrderTest::drawsMadeForSmallLists()
{
    // n = 2: one draw over 0..1. n = 3: one draw over 0..5, whose quotient and
    // remainder by 3 are the two partners.
    for (quint32 seed : {1u, 2u, 3u, referenceTrialOrderSeed}) {
        std::mt19937 reference(seed);
        const quint64 x2 = boundedDraw(reference, 0, 1);
        QVector<qint32> two{10, 11};
        std::mt19937 engine(seed);
        shuffleTrialOrder(two, engine);
        QCOMPARE(two, x2 == 0 ? QVector<qint32>({11, 10}) : QVector<qint32>({10, 11}));
        QCOMPARE(engine(), reference());   // both consumed the same outputs

        std::mt19937 reference3(seed);
        const quint64 x3 = boundedDraw(reference3, 0, 5);
        QVector<qint32> three{0, 1, 2};
        QVector<qint32> expected = three;
        std::swap(expected[1], expected[int(x3 / 3)]);
        std::swap(expected[2], expected[int(x3 % 3)]);
        std::mt19937 engine3(seed);
        shuffleTrialOrder(three, engine3);
        QCOMPARE(three, expected);
        QCOMPARE(engine3(), reference3());
    }
}

void TrialOrderTest::boundedDrawStaysInRange()
{
    std::mt19937 engine(7);
    for (quint64 hi : {0ull, 1ull, 5ull, 1000ull, 4294967294ull}) {
        for (int i = 0; i < 200; ++i) {
            const quint64 v = boundedDraw(engine, 3, 3 + hi);
            QVERIFY(v >= 3 && v <= 3 + hi);
        }
    }
    // A draw over a single value still takes exactly one engine output
    // (only the output 4294967295 itself would be rejected).
    std::mt19937 a(99), b(99);
    QCOMPARE(boundedDraw(a, 0, 0), quint64(0));
    b();
    QCOMPARE(a(), b());
}

void TrialOrderTest::longListsShuffleOneAtATime()
{
    // 65536 entries switch to single swaps: i = 1 .. n-1 against draw(0, i).
    QVector<qint32> list(65536);
    std::iota(list.begin(), list.end(), 0);
    QVector<qint32> expected = list;
    std::mt19937 reference(42);
    for (int i = 1; i < expected.size(); ++i)
        std::swap(expected[i], expected[int(boundedDraw(reference, 0, quint64(i)))]);

    std::mt19937 engine(42);
    shuffleTrialOrder(list, engine);
    QCOMPARE(list, expected);
}

void TrialOrderTest::emptyAndDegenerateSessions()
{
    QVERIFY(buildTrialOrder(0, 3, 1).isEmpty());
    QVERIFY(buildTrialOrder(4, 0, 1).isEmpty());
    QVERIFY(buildTrialOrder(-1, 3, 1).isEmpty());
    QVector<qint32> empty;
    std::mt19937 engine(1);
    shuffleTrialOrder(empty, engine);
    QVERIFY(empty.isEmpty());
}

void TrialOrderTest::freshSeedsDiffer()
{
    // Entropy from the system: eight draws in a row are not all equal.
    QSet<quint32> seeds;
    for (int i = 0; i < 8; ++i)
        seeds.insert(drawTrialOrderSeed());
    QVERIFY(seeds.size() > 1);
}

void TrialOrderTest::floatPcmBytes_data()
{
    QTest::addColumn<double>("sample");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("0.1 rounds to nearest") << 0.1 << QByteArray::fromHex("cdcccc3d");
    QTest::newRow("1.5 is not clipped") << 1.5 << QByteArray::fromHex("0000c03f");
    QTest::newRow("-1") << -1.0 << QByteArray::fromHex("000080bf");
    QTest::newRow("0") << 0.0 << QByteArray::fromHex("00000000");
}

void TrialOrderTest::floatPcmBytes()
{
    QFETCH(double, sample);
    QFETCH(QByteArray, bytes);
    QCOMPARE(::floatPcmBytes({sample}), bytes);
    const QByteArray many = ::floatPcmBytes(QVector<double>(10000, sample));
    QCOMPARE(many.size(), 40000);
    QCOMPARE(many.mid(4 * 9999), bytes);
}

QTEST_APPLESS_MAIN(TrialOrderTest)
#include "tst_trialorder.moc"
