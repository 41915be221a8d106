#include "app/LabOptionsPanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

LabOptionsPanel::LabOptionsPanel(QGridLayout *grid, int firstRow, int columns, QObject *parent)
    : QObject(parent)
    , labelListenerScreen(new QLabel(QStringLiteral("Listener screen")))
    , labelAudioOutput(new QLabel(QStringLiteral("Audio output")))
    , labelBreakEvery(new QLabel(QStringLiteral("Break every (trials)")))
    , comboBoxListenerScreen(new QComboBox)
    , comboBoxAudioOutput(new QComboBox)
    , spinBoxBreakEvery(new QSpinBox)
    , rows{new QHBoxLayout, new QHBoxLayout, new QHBoxLayout}
    , labelGroupReport(new QLabel(QStringLiteral("Group report")))
    , pushButtonGroupReport(new QPushButton(QStringLiteral("Make a report of many sessions\u2026")))
    , groupReportRow(new QHBoxLayout)
    , grid(grid)
    , tasksRow(firstRow + 4)
    , columns(columns)
{
    // 0 is "no breaks"; an experiment session has 40 repetitions of each file.
    spinBoxBreakEvery->setRange(0, 10000);
    spinBoxBreakEvery->setSpecialValueText(QStringLiteral("no breaks"));
    comboBoxAudioOutput->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    comboBoxAudioOutput->setMinimumContentsLength(16);
    comboBoxListenerScreen->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    comboBoxListenerScreen->setMinimumContentsLength(16);

    const QPair<QLabel *, QWidget *> pairs[] = {{labelListenerScreen, comboBoxListenerScreen},
                                                 {labelAudioOutput, comboBoxAudioOutput},
                                                 {labelBreakEvery, spinBoxBreakEvery}};
    for (int i = 0; i < 3; ++i) {
        rows[i]->addWidget(pairs[i].first);
        rows[i]->addWidget(pairs[i].second, 1);
        grid->addLayout(rows[i], firstRow + i, 0, 1, columns);
    }
    connect(comboBoxListenerScreen, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &LabOptionsPanel::changed);
    connect(comboBoxAudioOutput, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &LabOptionsPanel::changed);
    connect(spinBoxBreakEvery, QOverload<int>::of(&QSpinBox::valueChanged), this, &LabOptionsPanel::changed);

    // The group report: every session's curve from a folder of journals.
    pushButtonGroupReport->setToolTip(QStringLiteral("Reads the trial journals of a folder, fits each session's "
                                                     "identification curve and writes report.tsv, "
                                                     "report_files.tsv and the figure"));
    groupReportRow->addWidget(labelGroupReport);
    groupReportRow->addWidget(pushButtonGroupReport, 1);
    grid->addLayout(groupReportRow, firstRow + 3, 0, 1, columns);
    connect(pushButtonGroupReport, &QPushButton::clicked, this, &LabOptionsPanel::groupReportRequested);
}

LabOptionsPanel::~LabOptionsPanel()
{
    // Widgets first (each leaves its layout), then the layouts.
    delete labelListenerScreen;
    delete labelAudioOutput;
    delete labelBreakEvery;
    delete comboBoxListenerScreen;
    delete comboBoxAudioOutput;
    delete spinBoxBreakEvery;
    delete labelGroupReport;
    delete pushButtonGroupReport;
    for (QPushButton *button : std::as_const(tasks))
        delete button;
    for (QHBoxLayout *row : rows)
        delete row;
    delete groupReportRow;
    delete taskButtons;
}

QPushButton *LabOptionsPanel::addTaskButton(const QString &text)
{
    if (!taskButtons) {
        taskButtons = new QHBoxLayout;
        grid->addLayout(taskButtons, tasksRow, 0, 1, columns);
    }
    auto *button = new QPushButton(text);
    taskButtons->addWidget(button);
    tasks.append(button);
    return button;
}

void LabOptionsPanel::setListenerScreens(const QVector<ListenerScreenChoice> &choices, const QString &selectedKey)
{
    const QSignalBlocker blocker(comboBoxListenerScreen);
    comboBoxListenerScreen->clear();
    for (const ListenerScreenChoice &choice : choices)
        comboBoxListenerScreen->addItem(choice.label, choice.key);
    // A remembered screen that is not connected stays chosen, and so
    // remembered, until the experimenter picks another.
    if (comboBoxListenerScreen->findData(selectedKey) < 0)
        comboBoxListenerScreen->addItem(selectedKey + QStringLiteral(", full screen (not connected)"), selectedKey);
    comboBoxListenerScreen->setCurrentIndex(std::max(0, comboBoxListenerScreen->findData(selectedKey)));
}

QString LabOptionsPanel::listenerScreen() const
{
    return comboBoxListenerScreen->currentData().toString();
}

void LabOptionsPanel::setAudioOutputs(const QVector<AudioDeviceDescription> &outputs, const QString &selectedName)
{
    const QSignalBlocker blocker(comboBoxAudioOutput);
    comboBoxAudioOutput->clear();
    comboBoxAudioOutput->addItem(QStringLiteral("The audio server's default output"), QString());
    for (const AudioDeviceDescription &output : outputs)
        comboBoxAudioOutput->addItem(output.description.isEmpty() ? output.name : output.description, output.name);
    // A remembered output that is not connected stays chosen, and so
    // remembered, until the experimenter picks another. (With no list at
    // all, the server could not be asked.)
    if (comboBoxAudioOutput->findData(selectedName) < 0) {
        const QString label = outputs.isEmpty() ? selectedName : selectedName + QStringLiteral(" (not connected)");
        comboBoxAudioOutput->addItem(label, selectedName);
    }
    comboBoxAudioOutput->setCurrentIndex(std::max(0, comboBoxAudioOutput->findData(selectedName)));
}

QString LabOptionsPanel::audioOutput() const
{
    return comboBoxAudioOutput->currentData().toString();
}

void LabOptionsPanel::setBreakEvery(int trials)
{
    const QSignalBlocker blocker(spinBoxBreakEvery);
    spinBoxBreakEvery->setValue(std::max(0, trials));
}

int LabOptionsPanel::breakEvery() const
{
    return spinBoxBreakEvery->value();
}
