// The three chart builders. Each creates only the objects whose member is
// still null, so calling one again changes nothing.

#include "app/MainWindow.h"

#include "app/IdentificationCurveOverlay.h"

#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QLineSeries>
#include <QMargins>
#include <QPainter>
#include <QValueAxis>

#include <functional>

using namespace QtCharts;

namespace {

// The members of one chart, by reference, so that a step can tell whether
// its object exists yet and record the one it creates.
struct ChartObjects
{
    QLineSeries *&series;
    QValueAxis *&axisX;
    QValueAxis *&axisY;
    QChart *&chart;
    QChartView *&view;
};

// What tells the three charts apart.
struct ChartSetup
{
    QString title;
    QString axisXTitle;
    QString axisYTitle;
    std::function<void(QLineSeries *)> configureSeries;
    std::function<void(QValueAxis *)> configureAxisX;
    std::function<void(QValueAxis *)> configureAxisY;
    qreal minimumWidth;   // pixels
    int row;              // cell in the chart column
    int column;
    int rowSpan;
    int columnSpan;
};

struct ChartFonts
{
    const QFont &axisLabel;
    const QFont &axisTitle;
    const QFont &chartTitle;
};

QValueAxis *createAxis(const std::function<void(QValueAxis *)> &configure,
                       const ChartFonts &fonts, const QString &title)
{
    auto *axis = new QValueAxis;
    if (configure)
        configure(axis);
    axis->setLabelsFont(fonts.axisLabel);
    axis->setTitleFont(fonts.axisTitle);
    axis->setTitleText(title);
    return axis;
}

// Series, horizontal axis, vertical axis, chart, view: each only if its
// member is still null. The chart takes over the series and both axes, the
// view takes over the chart, and the layout makes the view a child of the
// central widget; the window's destructor releases the view and with it all
// the rest.
void buildChart(const ChartObjects &objects, const ChartSetup &setup,
                const ChartFonts &fonts, QGridLayout *grid)
{
    if (!objects.series) {
        objects.series = new QLineSeries;
        if (setup.configureSeries)
            setup.configureSeries(objects.series);
    }
    if (!objects.axisX)
        objects.axisX = createAxis(setup.configureAxisX, fonts, setup.axisXTitle);
    if (!objects.axisY)
        objects.axisY = createAxis(setup.configureAxisY, fonts, setup.axisYTitle);

    if (!objects.chart) {
        QChart *chart = new QChart;
        chart->addSeries(objects.series);
        chart->addAxis(objects.axisX, Qt::AlignBottom);
        objects.series->attachAxis(objects.axisX);
        chart->addAxis(objects.axisY, Qt::AlignLeft);
        objects.series->attachAxis(objects.axisY);
        chart->setTitleFont(fonts.chartTitle);
        chart->setTitle(setup.title);
        chart->legend()->hide();
        chart->setMargins(QMargins(0, 0, 0, 0));
        chart->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
        chart->setMinimumWidth(setup.minimumWidth);
        objects.chart = chart;
    }

    if (!objects.view) {
        objects.view = new QChartView(objects.chart);
        objects.view->setRenderHint(QPainter::Antialiasing);
        grid->addWidget(objects.view, setup.row, setup.column, setup.rowSpan, setup.columnSpan,
                        Qt::Alignment());
    }
}

} // namespace

void MainWindow::createWaveformChart()
{
    // The axis ranges follow each loaded sound (updateWaveformChart).
    ChartSetup setup;
    setup.title = QStringLiteral("Time Waveform");
    setup.axisXTitle = QStringLiteral("Time (ms)");
    setup.axisYTitle = QStringLiteral("Amplitude");
    setup.minimumWidth = 200;
    setup.row = 0;
    setup.column = 0;
    setup.rowSpan = 1;
    setup.columnSpan = 1;
    buildChart({waveformSeries, waveformAxisX, waveformAxisY, waveformChart, waveformChartView},
               setup, {axisLabelFont, axisTitleFont, chartTitleFont}, gridLayoutCharts);
}

void MainWindow::createSpectrumChart()
{
    ChartSetup setup;
    setup.title = QStringLiteral("Amplitude Spectrum");
    setup.axisXTitle = QStringLiteral("Frequency (Hz)");
    setup.axisYTitle = QStringLiteral("Amplitude");
    // The frequency axis is fixed for good; only the amplitude range follows
    // the sound (updateSpectrumChart).
    const double maxFrequency = settings.spectrumMaxFrequency;   // Hz
    setup.configureAxisX = [maxFrequency](QValueAxis *axis) {
        axis->setRange(0, maxFrequency);
        axis->setLabelFormat(QStringLiteral("%.0f"));
    };
    setup.configureAxisY = [](QValueAxis *axis) { axis->setRange(0, 1); };
    setup.minimumWidth = 200;
    setup.row = 1;
    setup.column = 0;
    setup.rowSpan = 1;
    setup.columnSpan = 1;
    buildChart({spectrumSeries, spectrumAxisX, spectrumAxisY, spectrumChart, spectrumChartView},
               setup, {axisLabelFont, axisTitleFont, chartTitleFont}, gridLayoutCharts);
}

void MainWindow::createTrendChart()
{
    ChartSetup setup;
    setup.title = QStringLiteral("Response Trend");
    setup.axisXTitle = QStringLiteral("Sound File");
    setup.axisYTitle = QStringLiteral("Tone 2 chosen (n times)");
    // One marker per sound file; the name never shows, the legend is hidden.
    setup.configureSeries = [](QLineSeries *series) {
        series->setName(QStringLiteral("trend"));
        series->setPointsVisible(true);
    };
    // The file-number axis gets its range when a session starts
    // (updateTrendChart); two ticks until then.
    setup.configureAxisX = [](QValueAxis *axis) {
        axis->setLabelsVisible(true);
        axis->setLabelFormat(QStringLiteral("%g"));
        axis->setTickCount(2);
    };
    setup.configureAxisY = [](QValueAxis *axis) {
        axis->setLabelsVisible(true);
        axis->setRange(0, 4);
        axis->setLabelFormat(QStringLiteral("%.0f"));
    };
    // Twice as wide as the others, across both columns of the chart grid.
    setup.minimumWidth = 400;
    setup.row = 2;
    setup.column = 0;
    setup.rowSpan = 1;
    setup.columnSpan = 2;
    buildChart({trendSeries, trendAxisX, trendAxisY, trendChart, trendChartView},
               setup, {axisLabelFont, axisTitleFont, chartTitleFont}, gridLayoutCharts);
    // The identification curve: drawn on this chart, described just under it.
    if (!identificationCurve) {
        identificationCurve = new IdentificationCurveOverlay(trendChart, trendAxisX, trendAxisY, gridLayoutCharts,
                                                             setup.row + 1, setup.columnSpan);
    }
}
