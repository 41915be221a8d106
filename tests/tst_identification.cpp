#include "analysis/Identification.h"
#include "calibration/Calibration.h"

#include <QtTest>

// The identification summary and its logistic fit against known answers.
class IdentificationTest : public QObject
{
    Q_OBJECT

private slots:
    void beetleMortality();
    void separation_data();
    void separation();
    void notEstimable();
    void summaryOfARun();
};

// Bliss's beetle data, the textbook check of binomial GLM software: R's
// glm(cbind(killed, n - killed) ~ dose, family = binomial) gives these.
void IdentificationTest::beetleMortality()
{
    const double dose[] = {1.6907, 1.7242, 1.7552, 1.7842, 1.8113, 1.8369, 1.8610, 1.8839};
    const int n[] = {59, 60, 62, 56, 63, 59, 62, 60};
    const int killed[] = {6, 13, 18, 28, 52, 53, 61, 60};
    QVector<BinomialRow> rows;
    for (int i = 0; i < 8; ++i)
        rows.append({dose[i], n[i], killed[i]});
    rows.append({2.5, 0, 0});   // a row without answers is left out
    const LogisticFit fit = fitLogistic(rows);
    QCOMPARE(fit.status, LogisticFit::Status::Ok);
    QVERIFY(std::abs(fit.intercept - -60.717) < 0.001);
    QVERIFY(std::abs(fit.interceptSE - 5.181) < 0.001);
    QVERIFY(std::abs(fit.slope - 34.270) < 0.001);
    QVERIFY(std::abs(fit.slopeSE - 2.912) < 0.001);
    QVERIFY(std::abs(fit.deviance - 11.232) < 0.001);
    QCOMPARE(fit.degreesOfFreedom, 6);
    QVERIFY(std::abs(fit.boundary - 1.7717) < 0.0001);
    QVERIFY(fit.boundarySE > 0.0 && fit.boundarySE < 0.01);
    QVERIFY(std::abs(fit.probability(fit.boundary) - 0.5) < 1e-12);
}

void IdentificationTest::separation_data()
{
    QTest::addColumn<QVector<int>>("tone2");   // "Tone 2" answers of 3 per file 1..n
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("complete, Tone 2 below") << QVector<int>{3, 3, 0, 0, 0} << 2.0 << 3.0;
    QTest::newRow("complete, Tone 2 above") << QVector<int>{0, 0, 0, 3, 3} << 3.0 << 4.0;
    QTest::newRow("quasi: a mixed file between") << QVector<int>{3, 3, 2, 0, 0} << 2.0 << 4.0;
    QTest::newRow("quasi: the mixed file last") << QVector<int>{3, 3, 3, 1} << 3.0 << 4.0;
}

void IdentificationTest::separation()
{
    QFETCH(QVector<int>, tone2);
    QFETCH(double, low);
    QFETCH(double, high);
    QVector<BinomialRow> rows;
    for (int i = 0; i < tone2.size(); ++i)
        rows.append({double(i + 1), 3, tone2[i]});
    const LogisticFit fit = fitLogistic(rows);
    QCOMPARE(fit.status, LogisticFit::Status::Separated);
    QCOMPARE(fit.boundaryLow, low);
    QCOMPARE(fit.boundaryHigh, high);
    QCOMPARE(describeFit(fit), QStringLiteral("boundary between %1 and %2 (answers separate completely)")
                                   .arg(low).arg(high));
}

void IdentificationTest::notEstimable()
{
    const LogisticFit one = fitLogistic({{1, 3, 2}});
    QCOMPARE(one.status, LogisticFit::Status::NotEstimable);
    QCOMPARE(describeFit(one), QStringLiteral("no fit: fewer than 3 sound files have answers"));
    const LogisticFit same = fitLogistic({{1, 3, 3}, {2, 3, 3}, {3, 3, 3}, {4, 0, 0}});
    QCOMPARE(describeFit(same), QStringLiteral("no fit: every answer is \"Tone 2\""));
    // A slope of 0 is flat, not "not estimable".
    const LogisticFit flat = fitLogistic({{1, 3, 3}, {2, 3, 0}, {3, 3, 3}});
    QCOMPARE(flat.status, LogisticFit::Status::Flat);
    QVERIFY(std::abs(flat.slope) < 1e-12);
    QCOMPARE(describeFit(flat), QStringLiteral("flat: the answers do not change reliably with the sound file "
                                               "(slope %1, 95 % %2 to %3); no boundary")
                                    .arg(QString::number(flat.slope, 'g', 3), QString::number(flat.slopeLow, 'g', 3),
                                         QString::number(flat.slopeHigh, 'g', 3)));
    // Two mixed files with answers that cross: a fit, with a negative slope.
    const LogisticFit ok = fitLogistic({{1, 3, 3}, {2, 3, 2}, {3, 3, 2}, {4, 3, 0}});
    QCOMPARE(ok.status, LogisticFit::Status::Ok);
    QVERIFY(ok.slope < 0 && ok.boundary > 2 && ok.boundary < 4);
    QVERIFY(ok.boundaryCILow < ok.boundary && ok.boundary < ok.boundaryCIHigh);
    QVERIFY(ok.slopeLow < ok.slope && ok.slope < ok.slopeHigh && ok.slopeHigh < 0);
    QCOMPARE(describeFit(ok), QStringLiteral("boundary 2.85 \u00b1 0.43, 95 % %1 to %2 (sound-file number); "
                                             "slope -1.88, 95 % %3 to %4")
                                  .arg(ok.boundaryCILow, 0, 'f', 2)
                                  .arg(ok.boundaryCIHigh, 0, 'f', 2)
                                  .arg(QString::number(ok.slopeLow, 'g', 3), QString::number(ok.slopeHigh, 'g', 3)));
}

// Per-file counts, proportions, mean and median reaction times over the
// counted answers, and the file's exact text.
void IdentificationTest::summaryOfARun()
{
    const QVector<AnswerRecord> answers{
        {0, 2, 400.0, true}, {1, 2, 300.0, true}, {0, 2, 500.0, true}, {1, 4, 350.0, true},
        {1, 4, 900.0, false},   // an answer to silence: not counted
        {0, 4, 450.0, true},
    };
    const QVector<FileSummary> files = summarizeFiles({"a.wav", "b.wav", "c.wav"}, {1, 2, 3}, answers);
    QCOMPARE(files[0].n, 3);
    QCOMPARE(files[0].nT2, 2);
    QCOMPARE(files[0].medianReactionTimeMs, 450.0);
    QCOMPARE(files[1].n, 2);
    QCOMPARE(files[1].meanReactionTimeMs, 325.0);
    QCOMPARE(files[1].medianReactionTimeMs, 325.0);
    QCOMPARE(files[2].n, 0);
    QCOMPARE(meanReactionTimeMs(answers), 400.0);

    // The levels: a calibrated output gives each file's RMS and level; a
    // file of silence has no RMS worth a level; without a calibration both
    // are NA.
    QVector<FileSummary> withLevels = files;
    Calibration calibration;
    calibration.device = QStringLiteral("booth");
    calibration.readingsDbSpl = {84.0};
    withLevels[0].rmsDbfs = -18.0;
    withLevels[0].levelDbSpl = calibration.levelDbSpl(withLevels[0].rmsDbfs);
    withLevels[1].rmsDbfs = -std::numeric_limits<double>::infinity();
    withLevels[1].levelDbSpl = calibration.levelDbSpl(withLevels[1].rmsDbfs);
    const LogisticFit fit = fitLogistic(binomialRows(files));
    QCOMPARE(summaryFileBytes(withLevels, fit, false),
             QByteArray("# fit\tnot estimable: fewer than 3 sound files have answers\r\n"
                        "# sound-file number\tlisting order\r\n"
                        "sound file\tnumber\tn\tnT2\tnT4\tproportion Tone 2\tmean reaction time (ms)"
                        "\tmedian reaction time (ms)\tRMS (dBFS)\tlevel (dB SPL)\r\n"
                        "a.wav\t1\t3\t2\t1\t0.6666666667\t450\t450\t-18\t86\r\n"
                        "b.wav\t2\t2\t1\t1\t0.5\t325\t325\t-inf\tNA\r\n"
                        "c.wav\t3\t0\t0\t0\tNA\tNA\tNA\tNA\tNA\r\n"));
    QCOMPARE(summaryPathBeside("/data/S01_practice001.txt"), QStringLiteral("/data/S01_practice001_summary.tsv"));
}

QTEST_APPLESS_MAIN(IdentificationTest)
#include "tst_identification.moc"
