#ifndef REPORTFIGURE_H
#define REPORTFIGURE_H

#include "app/ChartTypes.h"
#include "report/GroupReport.h"

#include <QByteArray>
#include <QColor>
#include <QGraphicsScene>
#include <QImage>
#include <QSize>
#include <QVector>

class QPainter;

// The group report's figure, drawn with Qt Charts: for each sound folder (a
// continuum) a row of two charts.
// - Left: every session's proportions of "Tone 2" per file as points and its
//   fitted curve as a line, one colour per subject code (one legend entry
//   each), practice sessions dashed with hollow points.
// - Right: each session's boundary with its 95 % interval, one row per
//   session (a forest plot); separated sessions get their range dashed, and
//   flat, separated, unfitted and incomplete sessions say so in their label.
// Needs a QApplication (charts are graphics widgets); draws without a window.
class ReportFigure
{
public:
    explicit ReportFigure(const GroupReport &report);
    ~ReportFigure();
    ReportFigure(const ReportFigure &) = delete;
    ReportFigure &operator=(const ReportFigure &) = delete;

    QSize size() const { return figureSize; }
    void render(QPainter *painter);
    QByteArray svgBytes();
    QImage image();
    QByteArray pngBytes();

    struct Panel
    {
        QString soundFolder;
        QtCharts::QChart *curves = nullptr;       // proportions and fitted curves
        QtCharts::QChart *boundaries = nullptr;   // the forest plot
    };
    const QVector<Panel> &panels() const { return panelList; }

    // The colour of subject i of count, readable and distinct for 40.
    static QColor subjectColour(int i, int count);

private:
    QGraphicsScene scene;
    QVector<Panel> panelList;
    QSize figureSize;
};

// Writes report.svg and report.png into folder, each replaced atomically.
bool writeReportFigure(ReportFigure &figure, const QString &folder, QString *errorText);

#endif // REPORTFIGURE_H
