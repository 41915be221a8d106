// The three charts of the main window as construction leaves them: objects,
// axes, looks and places, and builders that change nothing when called again.

#include "FakeAudioEngine.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>
#include <QtTest>

#include <memory>

using namespace QtCharts;

class MainWindowTester : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void builtCharts_data();
    void builtCharts();
    void axes_data();
    void axes();
    void secondBuildChangesNothing();

private:
    struct Chart
    {
        QLineSeries *series;
        QValueAxis *axisX;
        QValueAxis *axisY;
        QChart *chart;
        QChartView *view;
    };
    enum Which { Waveform, Spectrum, Trend };
    Chart chart(Which which) const;

    std::unique_ptr<MainWindow> window;
};

void MainWindowTester::initTestCase()
{
    window = std::make_unique<MainWindow>();
}

void MainWindowTester::cleanupTestCase()
{
    window.reset();
}

MainWindowTester::Chart MainWindowTester::chart(Which which) const
{
    MainWindow &w = *window;
    switch (which) {
    case Waveform:
        return {w.waveformSeries, w.waveformAxisX, w.waveformAxisY, w.waveformChart, w.waveformChartView};
    case Spectrum:
        return {w.spectrumSeries, w.spectrumAxisX, w.spectrumAxisY, w.spectrumChart, w.spectrumChartView};
    case Trend:
        return {w.trendSeries, w.trendAxisX, w.trendAxisY, w.trendChart, w.trendChartView};
    }
    return {};
}

void MainWindowTester::builtCharts_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("axisXTitle");
    QTest::addColumn<QString>("axisYTitle");
    QTest::addColumn<QString>("seriesName");
    QTest::addColumn<bool>("pointsVisible");
    QTest::addColumn<qreal>("minimumWidth");
    QTest::addColumn<QList<int>>("cell");   // row, column, row span, column span

    QTest::newRow("waveform") << int(Waveform) << "Time Waveform" << "Time (ms)" << "Amplitude"
                              << QString() << false << qreal(200) << QList<int>{0, 0, 1, 1};
    QTest::newRow("spectrum") << int(Spectrum) << "Amplitude Spectrum" << "Frequency (Hz)"
                              << "Amplitude" << QString() << false << qreal(200)
                              << QList<int>{1, 0, 1, 1};
    QTest::newRow("trend") << int(Trend) << "Response Trend" << "Sound File"
                           << "Tone 2 chosen (n times)" << "trend" << true << qreal(400)
                           << QList<int>{2, 0, 1, 2};
}

void MainWindowTester::builtCharts()
{
    QFETCH(int, which);
    QFETCH(QString, title);
    QFETCH(QString, axisXTitle);
    QFETCH(QString, axisYTitle);
    QFETCH(QString, seriesName);
    QFETCH(bool, pointsVisible);
    QFETCH(qreal, minimumWidth);
    QFETCH(QList<int>, cell);

    const Chart c = chart(Which(which));
    QVERIFY(c.series && c.axisX && c.axisY && c.chart && c.view);

    // Wired: the view shows the chart, the chart holds the series, and the
    // series is drawn against the two axes at the bottom and left edges.
    QCOMPARE(c.view->chart(), c.chart);
    // The trend chart also holds the identification curve and its boundary.
    QCOMPARE(c.chart->series().first(), c.series);
    QCOMPARE(c.chart->series().size(), Which(which) == Trend ? 3 : 1);
    QCOMPARE(c.chart->axes(Qt::Horizontal), QList<QAbstractAxis *>{c.axisX});
    QCOMPARE(c.chart->axes(Qt::Vertical), QList<QAbstractAxis *>{c.axisY});
    QCOMPARE(c.axisX->alignment(), Qt::AlignBottom);
    QCOMPARE(c.axisY->alignment(), Qt::AlignLeft);
    QCOMPARE(c.series->attachedAxes().size(), 2);
    QVERIFY(c.series->attachedAxes().contains(c.axisX));
    QVERIFY(c.series->attachedAxes().contains(c.axisY));
    QVERIFY(c.series->points().isEmpty());
    QCOMPARE(c.series->name(), seriesName);
    QCOMPARE(c.series->pointsVisible(), pointsVisible);

    QCOMPARE(c.chart->title(), title);
    QCOMPARE(c.chart->titleFont().pixelSize(), 12);
    QCOMPARE(c.axisX->titleText(), axisXTitle);
    QCOMPARE(c.axisY->titleText(), axisYTitle);
    for (const QValueAxis *axis : {c.axisX, c.axisY}) {
        QCOMPARE(axis->labelsFont().pixelSize(), 10);
        QCOMPARE(axis->titleFont().pixelSize(), 10);
        QCOMPARE(axis->titleFont().weight(), int(QFont::Normal));
    }

    // Even the named trend series shows no legend.
    QVERIFY(!c.chart->legend()->isVisible());
    QCOMPARE(c.chart->margins(), QMargins(0, 0, 0, 0));
    QCOMPARE(c.chart->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(c.chart->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(c.chart->minimumWidth(), minimumWidth);
    QVERIFY(c.view->renderHints().testFlag(QPainter::Antialiasing));

    QGridLayout *grid = window->gridLayoutCharts;
    const int at = grid->indexOf(c.view);
    QVERIFY(at >= 0);
    int row, column, rowSpan, columnSpan;
    grid->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), cell);
    QCOMPARE(grid->itemAt(at)->alignment(), Qt::Alignment());
}

// Ranges, label formats and tick counts; where no builder sets one, the
// charting library's default stays.
void MainWindowTester::axes_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<qreal>("min");
    QTest::addColumn<qreal>("max");
    QTest::addColumn<QString>("labelFormat");
    QTest::addColumn<int>("tickCount");
    QTest::addColumn<bool>("labelsVisible");

    // An axis whose range nobody set shows the library's default domain of an
    // empty series, 0 to 1, until the first sound is drawn.
    const qreal lo = 0;
    const qreal hi = 1;
    const QValueAxis library;
    const QString format = library.labelFormat();
    const int ticks = library.tickCount();

    QTest::newRow("waveform time") << int(Waveform) << true << lo << hi << format << ticks << true;
    QTest::newRow("waveform amplitude") << int(Waveform) << false << lo << hi << format << ticks << true;
    QTest::newRow("spectrum frequency, 0 to 2000 Hz without decimals")
        << int(Spectrum) << true << qreal(0) << qreal(2000) << "%.0f" << ticks << true;
    QTest::newRow("spectrum amplitude") << int(Spectrum) << false << qreal(0) << qreal(1) << format
                                        << ticks << true;
    QTest::newRow("trend sound file, two ticks") << int(Trend) << true << lo << hi << "%g" << 2 << true;
    QTest::newRow("trend count, 0 to 4") << int(Trend) << false << qreal(0) << qreal(4) << "%.0f"
                                         << ticks << true;
}

void MainWindowTester::axes()
{
    QFETCH(int, which);
    QFETCH(bool, horizontal);
    QFETCH(qreal, min);
    QFETCH(qreal, max);
    QFETCH(QString, labelFormat);
    QFETCH(int, tickCount);
    QFETCH(bool, labelsVisible);

    const Chart c = chart(Which(which));
    const QValueAxis *axis = horizontal ? c.axisX : c.axisY;
    QVERIFY(axis);
    QCOMPARE(axis->min(), min);
    QCOMPARE(axis->max(), max);
    QCOMPARE(axis->labelFormat(), labelFormat);
    QCOMPARE(axis->tickCount(), tickCount);
    QCOMPARE(axis->labelsVisible(), labelsVisible);
}

void MainWindowTester::secondBuildChangesNothing()
{
    const Chart before[] = {chart(Waveform), chart(Spectrum), chart(Trend)};
    QGridLayout *grid = window->gridLayoutCharts;
    QCOMPARE(grid->count(), 4);   // three charts and the fit's line

    window->createWaveformChart();
    window->createSpectrumChart();
    window->createTrendChart();

    QCOMPARE(grid->count(), 4);
    for (Which which : {Waveform, Spectrum, Trend}) {
        const Chart &was = before[which];
        const Chart now = chart(which);
        QCOMPARE(now.series, was.series);
        QCOMPARE(now.axisX, was.axisX);
        QCOMPARE(now.axisY, was.axisY);
        QCOMPARE(now.chart, was.chart);
        QCOMPARE(now.view, was.view);
        QCOMPARE(now.chart->series().size(), which == Trend ? 3 : 1);
        QCOMPARE(now.chart->axes().size(), 2);
        QCOMPARE(now.series->attachedAxes().size(), 2);
    }
}

TARQUEL_FAKE_AUDIO_TEST_MAIN(MainWindowTester)
#include "tst_charts.moc"
