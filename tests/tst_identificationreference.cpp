#include "analysis/Identification.h"
#include "analysis/SoundFileNumbers.h"

#include <QtTest>

#include <cmath>
#include <limits>

// The identification curve against reference values: the files' numbers
// from their names, and the logistic fit with its profile-likelihood
// intervals on data whose answers are known from elsewhere.
class IdentificationReferenceTest : public QObject
{
    Q_OBJECT

private slots:
    void numbersFromNames_data();
    void numbersFromNames();
    void fit_data();
    void fit();
    void elevenStepsListedOutOfOrder();
    void summaryOfAFlatListener();
};

namespace {

constexpr double none = std::numeric_limits<double>::quiet_NaN();

// a within tolerance of b, relative to b beyond 1 in size; NaN: not checked.
bool near(double a, double b, double tolerance)
{
    return std::isnan(b) || std::abs(a - b) <= tolerance * std::max(1.0, std::abs(b));
}

} // namespace

void IdentificationReferenceTest::numbersFromNames_data()
{
    QTest::addColumn<QStringList>("names");     // in listing order
    QTest::addColumn<QVector<double>>("numbers");
    QTest::addColumn<bool>("fromNames");

    QTest::newRow("step1 ... step11, listed by name")
        << QStringList{"step1.wav", "step10.wav", "step11.wav", "step2.wav", "step3.wav", "step4.wav",
                       "step5.wav", "step6.wav", "step7.wav", "step8.wav", "step9.wav"}
        << QVector<double>{1, 10, 11, 2, 3, 4, 5, 6, 7, 8, 9} << true;
    QTest::newRow("step10 ... step19: not 0 ... 9")
        << QStringList{"step10.wav", "step11.wav", "step12.wav", "step13.wav", "step14.wav", "step15.wav",
                       "step16.wav", "step17.wav", "step18.wav", "step19.wav"}
        << QVector<double>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19} << true;
    QTest::newRow("vot10ms ... vot90ms")
        << QStringList{"vot10ms.wav", "vot20ms.wav", "vot30ms.wav", "vot40ms.wav", "vot50ms.wav",
                       "vot60ms.wav", "vot70ms.wav", "vot80ms.wav", "vot90ms.wav"}
        << QVector<double>{10, 20, 30, 40, 50, 60, 70, 80, 90} << true;
    QTest::newRow("f0_180Hz ... f0_240Hz")
        << QStringList{"f0_180Hz.wav", "f0_190Hz.wav", "f0_200Hz.wav", "f0_210Hz.wav", "f0_220Hz.wav",
                       "f0_230Hz.wav", "f0_240Hz.wav"}
        << QVector<double>{180, 190, 200, 210, 220, 230, 240} << true;
    QTest::newRow("a-2.5, a-1.5: a minus and a decimal point")
        << QStringList{"a-1.5.wav", "a-2.5.wav"} << QVector<double>{-1.5, -2.5} << true;
    QTest::newRow("decimals that share their first digits")
        << QStringList{"f1.25.wav", "f1.5.wav", "f1.75.wav"} << QVector<double>{1.25, 1.5, 1.75} << true;
    QTest::newRow("leading zeros")
        << QStringList{"s01.wav", "s02.wav", "s10.wav"} << QVector<double>{1, 2, 10} << true;
    QTest::newRow("names without numbers: listing order")
        << QStringList{"ba.wav", "da.wav", "ga.wav"} << QVector<double>{1, 2, 3} << false;
    QTest::newRow("one name without a number: listing order")
        << QStringList{"step1.wav", "step2.wav", "stepX.wav"} << QVector<double>{1, 2, 3} << false;
    QTest::newRow("two names with the same number: listing order")
        << QStringList{"s01.wav", "s1.wav", "s2.wav"} << QVector<double>{1, 2, 3} << false;
    QTest::newRow("numbers followed by more than a shared end: listing order")
        << QStringList{"1a.wav", "2b.wav", "3c.wav"} << QVector<double>{1, 2, 3} << false;
    QTest::newRow("a single file: listing order") << QStringList{"step4.wav"} << QVector<double>{1} << false;
}

void IdentificationReferenceTest::numbersFromNames()
{
    QFETCH(QStringList, names);
    QFETCH(QVector<double>, numbers);
    QFETCH(bool, fromNames);
    const SoundFileNumbers result = soundFileNumbers(names);
    QCOMPARE(result.values, numbers);
    QCOMPARE(result.fromNames, fromNames);
    QCOMPARE(result.source(), fromNames ? QStringLiteral("from the file names") : QStringLiteral("listing order"));
}

void IdentificationReferenceTest::fit_data()
{
    QTest::addColumn<QVector<double>>("x");
    QTest::addColumn<QVector<int>>("n");
    QTest::addColumn<QVector<int>>("k");
    QTest::addColumn<int>("status");
    QTest::addColumn<double>("shift");        // subtracted from x-like results before they are compared
    QTest::addColumn<double>("intercept");    // for x - shift
    QTest::addColumn<double>("slope");
    QTest::addColumn<double>("deviance");
    QTest::addColumn<double>("boundary");
    QTest::addColumn<double>("boundaryLow");
    QTest::addColumn<double>("boundaryHigh");
    QTest::addColumn<double>("slopeLow");
    QTest::addColumn<double>("slopeHigh");
    QTest::addColumn<bool>("halves");         // a step must have been halved

    const int ok = int(LogisticFit::Status::Ok), flat = int(LogisticFit::Status::Flat);
    const QVector<int> beetleN{59, 60, 62, 56, 63, 59, 62, 60}, beetleK{6, 13, 18, 28, 52, 53, 61, 60};

    // Bliss (1935): beetles killed by carbon disulphide, x = log10 dose.
    // The profile-likelihood intervals are the reference values;
    // the estimates are R's glm(), and an independent Newton fit agrees.
    QTest::newRow("beetles (Bliss 1935)")
        << QVector<double>{1.6907, 1.7242, 1.7552, 1.7842, 1.8113, 1.8369, 1.8610, 1.8839} << beetleN << beetleK << ok
        << 0.0 << -60.71745456163541 << 34.27032573414698 << 11.23223109741928 << 1.771721 << 1.763982
        << 1.779187 << 28.8539 << 40.3005 << false;

    // The same counts at x = 1 ... 8, then at 1e8 + 1 ... 1e8 + 8: without
    // centring, the normal equations lose every digit there.
    const QVector<double> small{1, 2, 3, 4, 5, 6, 7, 8};
    QVector<double> large;
    for (double x : small)
        large.append(1e8 + x);
    QTest::newRow("beetle counts at x = 1 ... 8")
        << small << beetleN << beetleK << ok << 0.0 << -3.5616775296387924 << 0.9780289151864312
        << 7.562132683944014 << 3.6416893962279917 << 3.3733194 << 3.9041861 << 0.82214972 << 1.1520705 << false;
    QTest::newRow("beetle counts at x = 1e8 + 1 ... 1e8 + 8")
        << large << beetleN << beetleK << ok << 1e8 << -3.5616775296387924 << 0.9780289151864312
        << 7.562132683944014 << 3.6416893962279917 << 3.3733194 << 3.9041861 << 0.82214972 << 1.1520705 << false;

    // Answers on which glm's second step overshoots: its deviance rises
    // from 5451 to 44140, and it ends on a slope of about 1e13. Halving the
    // step finds the maximum (checked by an independent Newton fit with a
    // line search).
    QTest::newRow("a step that overshoots")
        << QVector<double>{1, 20, 22, 23, 24} << QVector<int>{1000, 1000, 1000, 1000, 1000}
        << QVector<int>{0, 1000, 1, 3, 542} << ok << 0.0 << -2.6787451491670407 << 0.09614472466584331
        << 4321.310421300016 << 27.86159259883658 << none << none << none << none << true;

    // A listener at chance on 11 files: the slope's interval holds 0, so
    // there is no boundary (its estimate, 6.0, would mean nothing).
    QTest::newRow("a flat listener")
        << QVector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11} << QVector<int>(11, 10)
        << QVector<int>{5, 4, 6, 5, 5, 6, 4, 5, 6, 5, 4} << flat << 0.0 << 0.043639787654066585
        << -0.007273297942344425 << 2.4017156008912854 << none << none << none << -0.12624003 << 0.11139145 << false;
    // The README's old example: "boundary -9.2 ± 23", outside the files.
    QTest::newRow("the old README's example, flat")
        << QVector<double>{1, 2, 3, 4, 5} << QVector<int>(5, 40) << QVector<int>{25, 30, 22, 27, 29} << flat << 0.0
        << 0.5182068306860456 << 0.05616344511874548 << 4.321622727122124 << none << none << none << -0.15170332
        << 0.26548555 << false;
}

void IdentificationReferenceTest::fit()
{
    QFETCH(QVector<double>, x);
    QFETCH(QVector<int>, n);
    QFETCH(QVector<int>, k);
    QFETCH(int, status);
    QFETCH(double, shift);
    QFETCH(double, intercept);
    QFETCH(double, slope);
    QFETCH(double, deviance);
    QFETCH(double, boundary);
    QFETCH(double, boundaryLow);
    QFETCH(double, boundaryHigh);
    QFETCH(double, slopeLow);
    QFETCH(double, slopeHigh);
    QFETCH(bool, halves);

    QVector<BinomialRow> rows;
    for (int i = 0; i < x.size(); ++i)
        rows.append({x[i], n[i], k[i]});
    const LogisticFit fit = fitLogistic(rows);
    QCOMPARE(int(fit.status), status);
    if (halves)
        QVERIFY(fit.stepHalvings > 0);

    // Estimates within 1e-6, intervals within 1e-5 (relative beyond 1: the
    // slope's reference interval has six significant digits).
    const double interceptThere = fit.intercept + fit.slope * shift;
    QVERIFY2(near(interceptThere, intercept, 1e-6), qPrintable(QString::number(interceptThere, 'g', 12)));
    QVERIFY2(near(fit.slope, slope, 1e-6), qPrintable(QString::number(fit.slope, 'g', 12)));
    QVERIFY2(near(fit.deviance, deviance, 1e-6), qPrintable(QString::number(fit.deviance, 'g', 12)));
    QVERIFY2(near(fit.slopeLow, slopeLow, 1e-5), qPrintable(QString::number(fit.slopeLow, 'g', 12)));
    QVERIFY2(near(fit.slopeHigh, slopeHigh, 1e-5), qPrintable(QString::number(fit.slopeHigh, 'g', 12)));
    QVERIFY(fit.slopeLow < fit.slope && fit.slope < fit.slopeHigh);
    // The maximum: the score equations hold.
    double score0 = 0, score1 = 0, scale = 0;
    for (const BinomialRow &row : rows) {
        const double residual = row.k - row.n * fit.probability(row.x);
        score0 += residual;
        score1 += residual * (row.x - fit.centre);
        scale += row.n;
    }
    QVERIFY(std::abs(score0) < 1e-6 * scale && std::abs(score1) < 1e-6 * scale);

    if (fit.status == LogisticFit::Status::Flat) {
        QVERIFY(fit.slopeLow < 0.0 && fit.slopeHigh > 0.0);
        return;
    }
    QVERIFY2(near(fit.boundary - shift, boundary, 1e-6), qPrintable(QString::number(fit.boundary - shift, 'g', 12)));
    QVERIFY2(near(fit.boundaryCILow - shift, boundaryLow, 1e-5),
             qPrintable(QString::number(fit.boundaryCILow - shift, 'g', 12)));
    QVERIFY2(near(fit.boundaryCIHigh - shift, boundaryHigh, 1e-5),
             qPrintable(QString::number(fit.boundaryCIHigh - shift, 'g', 12)));
    QVERIFY(fit.boundaryCILow < fit.boundary && fit.boundary < fit.boundaryCIHigh);
    QVERIFY(std::abs(fit.probability(fit.boundary) - 0.5) < 1e-7);
}

// A folder of 11 steps whose names list out of order (step1, step10,
// step11, step2 ...), answered along a falling curve: the fit on the steps'
// own numbers is the fit of the curve; on the listing order it is not.
void IdentificationReferenceTest::elevenStepsListedOutOfOrder()
{
    const QStringList names{"step1.wav", "step10.wav", "step11.wav", "step2.wav", "step3.wav", "step4.wav",
                            "step5.wav", "step6.wav", "step7.wav", "step8.wav", "step9.wav"};
    // "Tone 2" answers of 10 per step, step 1 to step 11.
    const int tone2ByStep[] = {10, 10, 9, 9, 7, 6, 3, 2, 1, 0, 0};
    const SoundFileNumbers numbers = soundFileNumbers(names);
    QVERIFY(numbers.fromNames);
    QVector<AnswerRecord> answers;
    for (int file = 0; file < names.size(); ++file) {
        const int step = int(numbers.values[file]);
        for (int i = 0; i < 10; ++i)
            answers.append({file, i < tone2ByStep[step - 1] ? 2 : 4, 500.0 + step, true});
    }
    const QVector<FileSummary> files = summarizeFiles(names, numbers.values, answers);
    const LogisticFit fit = fitLogistic(binomialRows(files));
    QCOMPARE(fit.status, LogisticFit::Status::Ok);
    QVERIFY(std::abs(fit.boundary - 6.202517515) < 1e-6);
    QVERIFY(std::abs(fit.boundaryCILow - 5.5405076) < 1e-5);
    QVERIFY(std::abs(fit.boundaryCIHigh - 6.8668981) < 1e-5);
    QVERIFY(std::abs(fit.slope - -0.9174037897) < 1e-6);

    // Placed by listing index, the same answers give another boundary with
    // an interval four times as wide.
    const QVector<FileSummary> listed = summarizeFiles(names, listingOrderNumbers(names.size()).values, answers);
    const LogisticFit wrong = fitLogistic(binomialRows(listed));
    QVERIFY(std::abs(wrong.boundary - 6.536315712) < 1e-6);
    QVERIFY(wrong.boundaryCIHigh - wrong.boundaryCILow > 4 * (fit.boundaryCIHigh - fit.boundaryCILow));

    // The summary keeps the listing order; each row carries its step.
    const QByteArray summary = summaryFileBytes(files, fit, numbers.fromNames);
    const QList<QByteArray> lines = summary.split('\n');
    QVERIFY(summary.contains("# sound-file number\tfrom the file names\r\n"));
    QVERIFY(summary.contains("# boundary 95% confidence interval (sound-file number)\t"));
    QVERIFY(summary.contains("# slope 95% confidence interval\t"));
    int header = 0;
    while (!lines[header].startsWith("sound file\t"))
        ++header;
    QVERIFY(lines[header + 1].startsWith("step1.wav\t1\t10\t10\t0\t"));
    QVERIFY(lines[header + 2].startsWith("step10.wav\t10\t10\t0\t10\t"));
    QVERIFY(lines[header + 3].startsWith("step11.wav\t11\t10\t0\t10\t"));
    QVERIFY(lines[header + 4].startsWith("step2.wav\t2\t10\t10\t0\t"));
}

// The summary of a flat listener: no boundary lines; the slope with its
// interval, the intercept, the deviance and the degrees of freedom stay.
void IdentificationReferenceTest::summaryOfAFlatListener()
{
    const QStringList names{"a-2.5.wav", "a-1.5.wav", "a-0.5.wav", "a0.5.wav", "a1.5.wav"};
    const SoundFileNumbers numbers = soundFileNumbers(names);
    QCOMPARE(numbers.values, (QVector<double>{-2.5, -1.5, -0.5, 0.5, 1.5}));
    const int tone2[] = {25, 30, 22, 27, 29};
    QVector<AnswerRecord> answers;
    for (int file = 0; file < 5; ++file) {
        for (int i = 0; i < 40; ++i)
            answers.append({file, i < tone2[file] ? 2 : 4, 400.0, true});
    }
    const QVector<FileSummary> files = summarizeFiles(names, numbers.values, answers);
    const LogisticFit fit = fitLogistic(binomialRows(files));
    QCOMPARE(fit.status, LogisticFit::Status::Flat);
    const QString text = QString::fromUtf8(summaryFileBytes(files, fit, true));
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines[0], QStringLiteral("# fit\tflat: the answers do not change reliably with the sound file"));
    QCOMPARE(lines[1], QStringLiteral("# slope (per sound file)\t") + summaryNumber(fit.slope));
    QCOMPARE(lines[2], QStringLiteral("# slope standard error\t") + summaryNumber(fit.slopeSE));
    QCOMPARE(lines[3], QStringLiteral("# slope 95% confidence interval\t") + summaryNumber(fit.slopeLow)
                           + QLatin1Char('\t') + summaryNumber(fit.slopeHigh));
    QVERIFY(lines[4].startsWith(QLatin1String("# intercept\t")));
    QVERIFY(lines[5].startsWith(QLatin1String("# intercept standard error\t")));
    QVERIFY(lines[6].startsWith(QLatin1String("# deviance\t")));
    QCOMPARE(lines[7], QStringLiteral("# degrees of freedom\t3"));
    QCOMPARE(lines[8], QStringLiteral("# sound-file number\tfrom the file names"));
    QVERIFY(!text.contains(QLatin1String("boundary")));
    QCOMPARE(lines[10], QStringLiteral("a-2.5.wav\t-2.5\t40\t25\t15\t0.625\t400\t400\tNA\tNA"));
    QCOMPARE(summaryNumber(std::numeric_limits<double>::infinity()), QStringLiteral("inf"));
    QCOMPARE(summaryNumber(-std::numeric_limits<double>::infinity()), QStringLiteral("-inf"));
}

QTEST_APPLESS_MAIN(IdentificationReferenceTest)
#include "tst_identificationreference.moc"
