#ifndef GROUPREPORTDIALOG_H
#define GROUPREPORTDIALOG_H

#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>

class QLabel;

// The group report as the main window shows it, once its files are written:
// what was read and written (and what was skipped, with why) above the
// figure, which scrolls when it is larger than the screen.
class GroupReportDialog : public QDialog
{
    Q_OBJECT

public:
    GroupReportDialog(const QString &summary, const QStringList &problems, const QImage &figure,
                      QWidget *parent = nullptr);

    QLabel *summaryLabel() const { return summaryText; }
    QLabel *figureLabel() const { return figureView; }

private:
    QLabel *summaryText;
    QLabel *figureView;
};

#endif // GROUPREPORTDIALOG_H
