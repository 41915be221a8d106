#ifndef TIMINGCHECKDIALOG_H
#define TIMINGCHECKDIALOG_H

#include "loopback/TimingCheckInput.h"
#include "loopback/TimingCheckResult.h"

#include <QDialog>

class AudioEngine;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TimingCheck;

// The window of the loop-back check ("Check timing"): the output it checks,
// the input to record (the line input a cable from the output feeds, or
// the output's monitor), "Start", how far the check has come, and its
// result in words. A result is stored for the output and told through
// checked(); closing the window stops a check that runs.
class TimingCheckDialog : public QDialog
{
    Q_OBJECT

public:
    // engine: open at the session's rate on the output named output (as
    // the server names it); outputLabel is what the window calls it.
    TimingCheckDialog(AudioEngine *engine, const QString &output, const QString &outputLabel,
                      QWidget *parent = nullptr);
    ~TimingCheckDialog() override;

    QComboBox *inputBox() const { return comboBoxInput; }
    QPushButton *startButton() const { return pushButtonStart; }
    QString statusText() const;
    QString resultText() const;

signals:
    void checked(const TimingCheckResult &result);

protected:
    void done(int result) override;

private:
    void startCheck();
    void checkFinished(TimingCheckResult result);
    void checkFailed(const QString &reason);
    void setStatus(const QString &text, bool problem = false);

    QString outputName;
    QVector<AudioInputDescription> inputs;
    TimingCheck *check;
    QLabel *labelIntro;
    QLabel *labelOutput;
    QComboBox *comboBoxInput;
    QPushButton *pushButtonStart;
    QLabel *labelStatus;
    QPlainTextEdit *textResult;
    QDialogButtonBox *buttons;
};

#endif // TIMINGCHECKDIALOG_H
