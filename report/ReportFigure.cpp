#include "report/ReportFigure.h"

#include "experiment/ResultsFile.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsSimpleTextItem>
#include <QMap>
#include <QPainter>
#include <QSet>
#include <QSvgGenerator>
#include <QGraphicsLayout>
#include <QtCharts/QChart>
#include <QtCharts/QLegend>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

using namespace QtCharts;

namespace {

constexpr int curvesWidth = 760;
constexpr int boundariesWidth = 640;
constexpr int labelWidth = 240;       // left of the forest plot, for the session labels
constexpr int minimumPanelHeight = 440;
constexpr int rowHeight = 22;          // a session in the forest plot
constexpr int legendRowHeight = 20;    // a subject in the legend
constexpr int curvePoints = 160;

// "S01 experiment 1, 13:18", with the day where the sessions span several.
QString sessionLabel(const SessionReport &session, bool withDay)
{
    const SessionJournal &j = session.journal;
    const QDateTime start = QDateTime::fromString(j.startTime, Qt::ISODateWithMs);
    QString label = QStringLiteral("%1 %2 %3").arg(j.subjectCode, j.sessionType, j.sessionNumber);
    if (start.isValid())
        label += start.toString(withDay ? QStringLiteral(", d MMM HH:mm") : QStringLiteral(", HH:mm"));
    switch (session.fit.status) {
    case LogisticFit::Status::Ok:
        break;
    case LogisticFit::Status::Flat:
        label += QStringLiteral(", flat");
        break;
    case LogisticFit::Status::Separated:
        label += QStringLiteral(", separated");
        break;
    case LogisticFit::Status::NotEstimable:
        label += QStringLiteral(", no fit");
        break;
    }
    if (!j.complete())
        label += QStringLiteral(", incomplete");
    return label;
}

QValueAxis *numberAxis(double low, double high)
{
    auto *axis = new QValueAxis;
    axis->setRange(low, high);
    axis->setTitleText(QStringLiteral("sound-file number"));
    axis->setLabelFormat(QStringLiteral("%g"));
    axis->setTickCount(7);
    // Ticks at round numbers (0, 2, 4 ... rather than 0.6, 2.4 ...).
    axis->applyNiceNumbers();
    return axis;
}

} // namespace

QColor ReportFigure::subjectColour(int i, int count)
{
    // Up to ten: the Tableau 10 colours. Beyond: hues a golden angle apart,
    // in two shades, so that neighbours in the legend never look alike.
    static const QColor ten[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                                 QColor(214, 39, 40),  QColor(148, 103, 189), QColor(140, 86, 75),
                                 QColor(227, 119, 194), QColor(127, 127, 127), QColor(188, 189, 34),
                                 QColor(23, 190, 207)};
    if (count <= 10)
        return ten[i % 10];
    const double hue = std::fmod(i * 0.618033988749895, 1.0);
    return QColor::fromHsvF(hue, i % 2 ? 0.9 : 0.65, i % 2 ? 0.65 : 0.9);
}

ReportFigure::ReportFigure(const GroupReport &report)
{
    // The sessions of each sound folder, in the report's order.
    QMap<QString, QVector<const SessionReport *>> byFolder;
    QStringList folders;
    for (const SessionReport &session : report.sessions) {
        if (!byFolder.contains(session.journal.soundFolder))
            folders.append(session.journal.soundFolder);
        byFolder[session.journal.soundFolder].append(&session);
    }

    QFont titleFont;
    titleFont.setPixelSize(15);
    titleFont.setBold(true);
    QFont smallFont;
    smallFont.setPixelSize(11);

    int top = 0;
    for (const QString &folder : std::as_const(folders)) {
        const QVector<const SessionReport *> &sessions = byFolder[folder];
        QStringList subjects;
        QSet<QDate> days;
        double low = 0.0, high = 0.0;
        bool any = false;
        for (const SessionReport *session : sessions) {
            if (!subjects.contains(session->journal.subjectCode))
                subjects.append(session->journal.subjectCode);
            days.insert(QDateTime::fromString(session->journal.startTime, Qt::ISODateWithMs).date());
            for (double number : session->journal.numbers.values) {
                low = any ? std::min(low, number) : number;
                high = any ? std::max(high, number) : number;
                any = true;
            }
        }
        std::sort(subjects.begin(), subjects.end());
        if (!(high > low)) {
            low -= 1.0;
            high += 1.0;
        }
        const double margin = (high - low) * 0.04;
        // The curves span the files; the axes' nice range may go beyond.
        const double firstFile = low, lastFile = high;
        {
            QValueAxis probe;
            probe.setRange(low - margin, high + margin);
            probe.setTickCount(7);
            probe.applyNiceNumbers();
            low = probe.min() + margin;
            high = probe.max() - margin;
        }
        const int height = std::max({minimumPanelHeight, 140 + legendRowHeight * int(subjects.size()),
                                     110 + rowHeight * int(sessions.size())});
        const QString folderName = QFileInfo(folder).fileName().isEmpty() ? folder : QFileInfo(folder).fileName();

        // Left: proportions and curves.
        auto *curves = new QChart;
        curves->setTitle(QStringLiteral("%1: \"Tone 2\" per sound file, fitted curves (practice dashed)").arg(folderName));
        curves->setTitleFont(titleFont);
        auto *curvesX = numberAxis(low - margin, high + margin);
        auto *curvesY = new QValueAxis;
        curvesY->setRange(0.0, 1.0);
        curvesY->setTickCount(6);
        curvesY->setLabelFormat(QStringLiteral("%.1f"));
        curvesY->setTitleText(QStringLiteral("proportion \"Tone 2\""));
        curves->addAxis(curvesX, Qt::AlignBottom);
        curves->addAxis(curvesY, Qt::AlignLeft);
        curves->legend()->setAlignment(Qt::AlignRight);
        curves->legend()->setFont(smallFont);
        QStringList inLegend;
        for (const SessionReport *session : sessions) {
            const int subject = subjects.indexOf(session->journal.subjectCode);
            const QColor colour = subjectColour(subject, subjects.size());
            const bool practice = session->practice();

            auto *points = new QScatterSeries;
            points->setName(QStringLiteral("points"));
            points->setMarkerSize(7.0);
            points->setColor(practice ? QColor(Qt::white) : colour);
            points->setBorderColor(colour);
            for (const FileSummary &file : session->files) {
                if (file.n > 0)
                    points->append(file.number, file.proportionTone2);
            }
            curves->addSeries(points);
            points->attachAxis(curvesX);
            points->attachAxis(curvesY);
            curves->legend()->markers(points).value(0)->setVisible(false);

            if (!session->fit.hasCurve())
                continue;
            auto *curve = new QLineSeries;
            curve->setName(session->journal.subjectCode);
            QPen pen(colour);
            pen.setWidthF(2.0);
            if (practice)
                pen.setStyle(Qt::DashLine);
            curve->setPen(pen);
            for (int i = 0; i < curvePoints; ++i) {
                const double x = firstFile + (lastFile - firstFile) * i / (curvePoints - 1);
                curve->append(x, session->fit.probability(x));
            }
            curves->addSeries(curve);
            curve->attachAxis(curvesX);
            curve->attachAxis(curvesY);
            // One legend entry per subject code.
            const bool first = !inLegend.contains(session->journal.subjectCode);
            curves->legend()->markers(curve).value(0)->setVisible(first);
            if (first)
                inLegend.append(session->journal.subjectCode);
        }
        // Subjects without any curve still get their entry: a point series.
        for (const QString &subject : std::as_const(subjects)) {
            if (inLegend.contains(subject))
                continue;
            auto *entry = new QScatterSeries;
            entry->setName(subject + QStringLiteral(" (no curve)"));
            entry->setColor(subjectColour(subjects.indexOf(subject), subjects.size()));
            entry->setMarkerSize(7.0);
            curves->addSeries(entry);
            entry->attachAxis(curvesX);
            entry->attachAxis(curvesY);
        }

        // Right: each session's boundary with its interval.
        auto *boundaries = new QChart;
        boundaries->setTitle(QStringLiteral("%1: boundary with 95 % interval").arg(folderName));
        boundaries->setTitleFont(titleFont);
        boundaries->legend()->hide();
        auto *boundariesX = numberAxis(low - margin, high + margin);
        // One row per session; the labels are text beside the plot (an
        // axis would shorten them to "..." once the rows are close).
        auto *rows = new QValueAxis;
        rows->setRange(0.0, sessions.size() + 1.0);
        rows->setLabelsVisible(false);
        rows->setGridLineVisible(false);
        rows->setTickCount(2);
        boundaries->addAxis(boundariesX, Qt::AlignBottom);
        boundaries->addAxis(rows, Qt::AlignLeft);
        // The first session at the top.
        QVector<QPair<QString, double>> labels;
        for (int i = 0; i < sessions.size(); ++i) {
            const SessionReport &session = *sessions[i];
            const double y = sessions.size() - i;
            labels.append({sessionLabel(session, days.size() > 1), y});
            const QColor colour = subjectColour(subjects.indexOf(session.journal.subjectCode), subjects.size());
            const LogisticFit &fit = session.fit;
            const bool ok = fit.status == LogisticFit::Status::Ok;
            if (!ok && fit.status != LogisticFit::Status::Separated)
                continue;
            const double from = std::max(ok ? fit.boundaryCILow : fit.boundaryLow, low - margin);
            const double to = std::min(ok ? fit.boundaryCIHigh : fit.boundaryHigh, high + margin);
            auto *interval = new QLineSeries;
            interval->setName(QStringLiteral("interval"));
            QPen pen(colour);
            pen.setWidthF(2.5);
            if (!ok || session.practice())
                pen.setStyle(ok ? Qt::DashLine : Qt::DotLine);
            interval->setPen(pen);
            interval->append(from, y);
            interval->append(to, y);
            boundaries->addSeries(interval);
            interval->attachAxis(boundariesX);
            interval->attachAxis(rows);
            if (ok && fit.boundary >= low - margin && fit.boundary <= high + margin) {
                auto *point = new QScatterSeries;
                point->setName(QStringLiteral("boundary"));
                point->setMarkerSize(9.0);
                point->setColor(session.practice() ? QColor(Qt::white) : colour);
                point->setBorderColor(colour);
                point->append(fit.boundary, y);
                boundaries->addSeries(point);
                point->attachAxis(boundariesX);
                point->attachAxis(rows);
            }
        }

        for (QChart *chart : {curves, boundaries}) {
            chart->setBackgroundRoundness(0);
            chart->setMargins(QMargins(6, 6, 6, 6));
            scene.addItem(chart);
        }
        boundaries->setMargins(QMargins(labelWidth, 6, 6, 6));
        curves->setGeometry(QRectF(0, top, curvesWidth, height));
        boundaries->setGeometry(QRectF(curvesWidth, top, boundariesWidth, height));
        // The session labels, right-aligned against the plot, each at its
        // row: where the rows are is known once the chart is laid out.
        boundaries->layout()->activate();
        const QRectF plot = boundaries->plotArea();
        const double rowSpan = sessions.size() + 1.0;
        for (const auto &[text, y] : std::as_const(labels)) {
            auto *item = scene.addSimpleText(text, smallFont);
            item->setBrush(QColor(60, 60, 60));
            const QRectF box = item->boundingRect();
            const double rowY = plot.bottom() - y / rowSpan * plot.height();
            item->setPos(curvesWidth + plot.left() - box.width() - 8, top + rowY - box.height() / 2);
        }
        panelList.append({folder, curves, boundaries});
        top += height;
    }

    if (panelList.isEmpty()) {
        auto *text = scene.addSimpleText(QStringLiteral("No sessions: no trial journal was read."));
        text->setFont(titleFont);
        text->setPos(20, 20);
        top = 80;
    }
    figureSize = QSize(curvesWidth + boundariesWidth, top);
    scene.setSceneRect(QRectF(QPointF(0, 0), QSizeF(figureSize)));
}

ReportFigure::~ReportFigure() = default;

void ReportFigure::render(QPainter *painter)
{
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(figureSize));
    painter->fillRect(area, Qt::white);
    scene.render(painter, area, area);
}

QByteArray ReportFigure::svgBytes()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(figureSize);
    generator.setViewBox(QRect(QPoint(0, 0), figureSize));
    generator.setTitle(QStringLiteral("Group report"));
    generator.setDescription(QStringLiteral("Identification curves and boundaries per session, by tarquel-report"));
    QPainter painter(&generator);
    render(&painter);
    painter.end();
    return buffer.data();
}

QImage ReportFigure::image()
{
    QImage picture(figureSize, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    render(&painter);
    painter.end();
    return picture;
}

QByteArray ReportFigure::pngBytes()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image().save(&buffer, "PNG");
    return buffer.data();
}

bool writeReportFigure(ReportFigure &figure, const QString &folder, QString *errorText)
{
    const QDir dir(folder);
    QString reason;
    const QString svgPath = dir.filePath(QString::fromLatin1(reportSvgName));
    if (!saveFileAtomically(svgPath, figure.svgBytes(), &reason)) {
        *errorText = QStringLiteral("%1 could not be written (%2)").arg(svgPath, reason);
        return false;
    }
    const QString pngPath = dir.filePath(QString::fromLatin1(reportPngName));
    if (!saveFileAtomically(pngPath, figure.pngBytes(), &reason)) {
        *errorText = QStringLiteral("%1 could not be written (%2)").arg(pngPath, reason);
        return false;
    }
    return true;
}
