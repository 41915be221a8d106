#ifndef SERIESPOINTS_H
#define SERIESPOINTS_H

#include <QPointF>
#include <QVector>
#include <QtCharts/QXYSeries>

// A series' points as a vector under Qt 5 (pointsVector) and Qt 6 (points).
template<typename Series>
QVector<QPointF> seriesPoints(const Series *series)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return series->points();
#else
    return series->pointsVector();
#endif
}

#endif // SERIESPOINTS_H
