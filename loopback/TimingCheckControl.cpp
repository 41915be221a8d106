#include "loopback/TimingCheckControl.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

TimingCheckControl::TimingCheckControl(QGridLayout *grid, int rowIndex, int columns, QObject *parent)
    : QObject(parent)
    , pushButtonCheck(new QPushButton(QStringLiteral("Check timing")))
    , labelLast(new QLabel)
    , row(new QHBoxLayout)
{
    labelLast->setWordWrap(true);
    row->addWidget(pushButtonCheck);
    row->addWidget(labelLast, 1);
    grid->addLayout(row, rowIndex, 0, 1, columns);
    connect(pushButtonCheck, &QPushButton::clicked, this, &TimingCheckControl::checkRequested);
}

TimingCheckControl::~TimingCheckControl()
{
    // Widgets first (each leaves its layout), then the layout.
    delete pushButtonCheck;
    delete labelLast;
    delete row;
}

void TimingCheckControl::showResult(const TimingCheckResult &result)
{
    labelLast->setText(timingCheckShortText(result));
}

QString TimingCheckControl::shownText() const
{
    return labelLast->text();
}
