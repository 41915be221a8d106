#ifndef IDENTIFICATIONCURVEOVERLAY_H
#define IDENTIFICATIONCURVEOVERLAY_H

class QGridLayout;
class QLabel;
struct LogisticFit;

#include "app/ChartTypes.h"

#include <QPointF>
#include <QVector>

// The listener's identification curve on the response-trend chart: the
// fitted logistic as expected "Tone 2" counts on the chart's own axes (P
// times each file's own number of counted answers), a vertical line at the
// category boundary where there is one within the files, and the fit in
// words on a line of its own under the chart.
class IdentificationCurveOverlay
{
public:
    // Adds two series to chart on its axes, and the line of text to grid at
    // row, across columnSpan columns.
    IdentificationCurveOverlay(QtCharts::QChart *chart, QtCharts::QValueAxis *axisX,
                               QtCharts::QValueAxis *axisY, QGridLayout *grid, int row, int columnSpan);
    ~IdentificationCurveOverlay();
    IdentificationCurveOverlay(const IdentificationCurveOverlay &) = delete;
    IdentificationCurveOverlay &operator=(const IdentificationCurveOverlay &) = delete;

    // No answers yet: nothing drawn, no text.
    void clear();
    // Draws the fit over files whose numbers span xFrom to xTo; each point
    // of files is a file's number (x) and its counted answers (y). The curve
    // is P("Tone 2") times those answers, taken straight between
    // neighbouring files. A flat fit gets its curve and no boundary; one
    // without a curve only its text. Returns the highest value drawn, for
    // the y axis.
    double show(const LogisticFit &fit, const QVector<QPointF> &files, double xFrom, double xTo);

    QLabel *label() const { return text; }
    QtCharts::QLineSeries *curveSeries() const { return curve; }
    QtCharts::QLineSeries *boundarySeries() const { return boundary; }

private:
    QtCharts::QValueAxis *axisY;
    QtCharts::QLineSeries *curve;
    QtCharts::QLineSeries *boundary;
    QLabel *text;
};

#endif // IDENTIFICATIONCURVEOVERLAY_H
