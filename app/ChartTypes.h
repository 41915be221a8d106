#ifndef CHARTTYPES_H
#define CHARTTYPES_H

#include <QtGlobal>

// The chart classes by one name under Qt 5 and Qt 6: Qt 5 keeps them in the
// namespace QtCharts, Qt 6 in the global namespace. Code names them
// QtCharts::QChart and so on; under Qt 6 that namespace only points to the
// global classes.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class QXYSeries;
class QAbstractSeries;
class QAbstractAxis;
namespace QtCharts {
using ::QAbstractAxis;
using ::QAbstractSeries;
using ::QChart;
using ::QChartView;
using ::QLineSeries;
using ::QValueAxis;
using ::QXYSeries;
} // namespace QtCharts
#else
namespace QtCharts {
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class QXYSeries;
class QAbstractSeries;
class QAbstractAxis;
} // namespace QtCharts
#endif

#endif // CHARTTYPES_H
