#include "app/IdentificationCurveOverlay.h"

#include "analysis/Identification.h"

#include <QGridLayout>
#include <QLabel>
#include <QPen>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>

using namespace QtCharts;

namespace {

// Points along the curve: smooth at any chart width, cheap to draw.
constexpr int curvePoints = 200;

} // namespace

IdentificationCurveOverlay::IdentificationCurveOverlay(QChart *chart, QValueAxis *axisX, QValueAxis *axisY_,
                                                       QGridLayout *grid, int row, int columnSpan)
    : axisY(axisY_)
    , curve(new QLineSeries)
    , boundary(new QLineSeries)
    , text(new QLabel)
{
    curve->setName(QStringLiteral("fit"));
    boundary->setName(QStringLiteral("boundary"));
    QPen curvePen(QColor(200, 60, 40));
    curvePen.setWidthF(1.5);
    curve->setPen(curvePen);
    QPen boundaryPen(QColor(200, 60, 40));
    boundaryPen.setStyle(Qt::DashLine);
    boundary->setPen(boundaryPen);
    for (QLineSeries *series : {curve, boundary}) {
        chart->addSeries(series);
        series->attachAxis(axisX);
        series->attachAxis(axisY);
    }
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(text, row, 0, 1, columnSpan);
}

IdentificationCurveOverlay::~IdentificationCurveOverlay()
{
    // The series belong to the chart; the label is this overlay's.
    delete text;
}

void IdentificationCurveOverlay::clear()
{
    curve->clear();
    boundary->clear();
    text->clear();
}

double IdentificationCurveOverlay::show(const LogisticFit &fit, double answersPerFile, double xFrom, double xTo)
{
    text->setText(describeFit(fit));
    curve->clear();
    boundary->clear();
    if (fit.status != LogisticFit::Status::Ok || xTo <= xFrom)
        return 0.0;

    QVector<QPointF> points(curvePoints);
    double top = 0.0;
    for (int i = 0; i < curvePoints; ++i) {
        const double x = xFrom + (xTo - xFrom) * i / (curvePoints - 1);
        const double y = fit.probability(x) * answersPerFile;
        points[i] = QPointF(x, y);
        top = std::max(top, y);
    }
    curve->replace(points);
    if (fit.boundary >= xFrom && fit.boundary <= xTo)
        boundary->replace(QVector<QPointF>{QPointF(fit.boundary, 0.0), QPointF(fit.boundary, answersPerFile)});
    return std::max(top, answersPerFile);
}
