#include "app/IdentificationCurveOverlay.h"

#include "analysis/Identification.h"
#include "analysis/SoundFileNumbers.h"

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

double IdentificationCurveOverlay::show(const LogisticFit &fit, const QVector<QPointF> &files, double xFrom,
                                        double xTo)
{
    QString line = describeFit(fit);
    const bool outside = fit.status == LogisticFit::Status::Ok && (fit.boundary < xFrom || fit.boundary > xTo);
    if (outside) {
        line += QStringLiteral(" \u2014 the boundary lies outside the sound files (%1 to %2)")
                    .arg(formatSoundFileNumber(xFrom), formatSoundFileNumber(xTo));
    }
    text->setText(line);
    curve->clear();
    boundary->clear();
    if (!fit.hasCurve() || xTo <= xFrom || files.isEmpty())
        return 0.0;

    // The counted answers at any x: each file's own at its number, straight
    // lines between neighbours.
    QVector<QPointF> counts = files;
    std::sort(counts.begin(), counts.end(), [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    const auto answersAt = [&counts](double x) {
        const auto after = std::lower_bound(counts.begin(), counts.end(), x,
                                            [](const QPointF &p, double value) { return p.x() < value; });
        if (after == counts.begin())
            return counts.first().y();
        if (after == counts.end())
            return counts.last().y();
        const QPointF &b = *after, &a = *(after - 1);
        return b.x() == a.x() ? b.y() : a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x());
    };
    // Even steps across the span, and every file's own number, so that the
    // curve passes exactly over each file.
    QVector<double> xs;
    for (int i = 0; i < curvePoints; ++i)
        xs.append(xFrom + (xTo - xFrom) * i / (curvePoints - 1));
    for (const QPointF &file : std::as_const(counts))
        xs.append(file.x());
    std::sort(xs.begin(), xs.end());
    QVector<QPointF> points;
    double top = 0.0, most = 0.0;
    for (double x : std::as_const(xs)) {
        const double y = fit.probability(x) * answersAt(x);
        points.append(QPointF(x, y));
        top = std::max(top, y);
    }
    for (const QPointF &file : std::as_const(counts))
        most = std::max(most, file.y());
    curve->replace(points);
    if (fit.status == LogisticFit::Status::Ok && !outside)
        boundary->replace(QVector<QPointF>{QPointF(fit.boundary, 0.0), QPointF(fit.boundary, most)});
    return std::max(top, most);
}
