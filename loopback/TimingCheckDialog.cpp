#include "loopback/TimingCheckDialog.h"

#include "loopback/ClickTrain.h"
#include "loopback/InputRecorder.h"
#include "loopback/TimingCheck.h"

#include <QComboBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TimingCheckDialog::TimingCheckDialog(AudioEngine *engine, const QString &output, const QString &outputLabel,
                                     QWidget *parent)
    : QDialog(parent)
    , outputName(output)
    , check(new TimingCheck(engine, this))
    , labelIntro(new QLabel)
    , labelOutput(new QLabel(outputLabel.isEmpty() ? output : outputLabel))
    , comboBoxInput(new QComboBox)
    , pushButtonStart(new QPushButton(QStringLiteral("Start")))
    , labelStatus(new QLabel)
    , textResult(new QPlainTextEdit)
    , buttons(new QDialogButtonBox(QDialogButtonBox::Close))
{
    setWindowTitle(QStringLiteral("Check timing"));
    labelIntro->setWordWrap(true);
    labelIntro->setText(QStringLiteral(
        "The check plays %1 short clicks through the output, exactly as stimuli are played, and records them "
        "from the input: the line input that a cable from the output feeds, or, on a computer without one, the "
        "output's monitor, which checks the software path only. It takes about 20 s, and the clicks are heard "
        "on the output.")
                            .arg(ClickTrain::clickCount));
    labelStatus->setWordWrap(true);
    labelStatus->setTextFormat(Qt::PlainText);
    labelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    textResult->setReadOnly(true);
    textResult->setMinimumHeight(fontMetrics().lineSpacing() * 18);
    comboBoxInput->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    comboBoxInput->setMinimumContentsLength(30);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Output"), labelOutput);
    form->addRow(QStringLiteral("Input"), comboBoxInput);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(labelIntro);
    layout->addLayout(form);
    layout->addWidget(pushButtonStart, 0, Qt::AlignLeft);
    layout->addWidget(labelStatus);
    layout->addWidget(textResult, 1);
    layout->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 90, sizeHint().height());

    inputs = InputRecorder::inputDevices();
    for (const AudioInputDescription &input : std::as_const(inputs)) {
        QString label = input.description.isEmpty() ? input.name : input.description;
        if (input.isMonitor())
            label += input.monitorOf == outputName ? QStringLiteral(" (this output's monitor)")
                                                   : QStringLiteral(" (a monitor)");
        comboBoxInput->addItem(label, input.name);
        comboBoxInput->setItemData(comboBoxInput->count() - 1, input.name, Qt::ToolTipRole);
    }
    const QString proposed = proposedTimingCheckInput(inputs, outputName, storedTimingCheck(outputName).input);
    comboBoxInput->setCurrentIndex(std::max(0, comboBoxInput->findData(proposed)));
    if (inputs.isEmpty()) {
        pushButtonStart->setEnabled(false);
        comboBoxInput->setEnabled(false);
        setStatus(QStringLiteral("No input can be recorded: the audio server lists none, or no audio server "
                                 "answers."),
                  true);
    }
    const TimingCheckResult last = storedTimingCheck(outputName);
    if (last.isValid())
        textResult->setPlainText(QStringLiteral("The last check of this output:\n\n") + timingCheckReportText(last));

    connect(pushButtonStart, &QPushButton::clicked, this, &TimingCheckDialog::startCheck);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(check, &TimingCheck::progress, this, [this](int placed, int total) {
        setStatus(QStringLiteral("Playing click %1 of %2 ...").arg(placed).arg(total));
    });
    connect(check, &TimingCheck::finished, this, &TimingCheckDialog::checkFinished);
    connect(check, &TimingCheck::failed, this, &TimingCheckDialog::checkFailed);
}

TimingCheckDialog::~TimingCheckDialog()
{
    check->cancel();
}

QString TimingCheckDialog::statusText() const
{
    return labelStatus->text();
}

QString TimingCheckDialog::resultText() const
{
    return textResult->toPlainText();
}

void TimingCheckDialog::done(int result)
{
    // A check that runs stops with its window; nothing of it is stored.
    check->cancel();
    QDialog::done(result);
}

void TimingCheckDialog::setStatus(const QString &text, bool problem)
{
    labelStatus->setStyleSheet(problem ? QStringLiteral("QLabel { color: #9b0000; }") : QString());
    labelStatus->setText(text);
}

void TimingCheckDialog::startCheck()
{
    const int index = comboBoxInput->currentIndex();
    if (index < 0 || index >= inputs.size())
        return;
    textResult->clear();
    QString reason;
    if (!check->start(inputs[index], &reason)) {
        checkFailed(reason);
        return;
    }
    setStatus(QStringLiteral("Recording from the input; the first click comes in about %1 s ...")
                  .arg(TimingCheck::leadNs / 1'000'000'000));
    pushButtonStart->setEnabled(false);
    comboBoxInput->setEnabled(false);
}

void TimingCheckDialog::checkFinished(TimingCheckResult result)
{
    result.output = outputName;
    storeTimingCheck(result);
    qInfo().noquote() << timingCheckLogText(result);
    // An output the server would not name cannot be told apart next time.
    setStatus(outputName.isEmpty()
                  ? QStringLiteral("Done. The audio server did not name the output, so the result is not kept.")
                  : QStringLiteral("Done. The result is kept for this output and written into the journal of every "
                                   "run on it."));
    textResult->setPlainText(timingCheckReportText(result));
    pushButtonStart->setEnabled(true);
    comboBoxInput->setEnabled(true);
    emit checked(result);
}

void TimingCheckDialog::checkFailed(const QString &reason)
{
    setStatus(QStringLiteral("The check failed: %1. Nothing was stored.").arg(reason), true);
    pushButtonStart->setEnabled(!inputs.isEmpty());
    comboBoxInput->setEnabled(!inputs.isEmpty());
}
