#ifndef TIMINGCHECKCONTROL_H
#define TIMINGCHECKCONTROL_H

#include "loopback/TimingCheckResult.h"

#include <QObject>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;

// The session panel's row of the loop-back check: "Check timing", and the
// last result for the chosen output in short.
class TimingCheckControl : public QObject
{
    Q_OBJECT

public:
    // Adds one row to grid at `row`, spanning `columns` columns.
    TimingCheckControl(QGridLayout *grid, int row, int columns, QObject *parent = nullptr);
    ~TimingCheckControl() override;

    void showResult(const TimingCheckResult &result);
    QPushButton *button() const { return pushButtonCheck; }
    QString shownText() const;

signals:
    void checkRequested();

private:
    QPushButton *pushButtonCheck;
    QLabel *labelLast;
    QHBoxLayout *row;
};

#endif // TIMINGCHECKCONTROL_H
