#ifndef SUBJECTWINDOW_H
#define SUBJECTWINDOW_H

#include "input/InputTime.h"

#include <QMainWindow>

class AnswerInput;
class KeyboardFocusWatch;
class QCloseEvent;
class QGridLayout;
class QKeyEvent;
class QLabel;
class QPushButton;
class QShowEvent;

// The listener's window. It holds no experiment state: it reports what the
// listener did through subjectResponded (0 "I am ready", 2 "Tone 2",
// 4 "Tone 4") and that it was closed through subjectWindowClosed. The main
// window drives it through updateSubjectWindow (the sound of the trial has
// started, or -1: it has ended and an answer is due) and finishExperiment.
//
// States: waiting for the listener -> playing -> answer due -> answer given
// -> playing ... -> finished. The window is disabled from the moment an
// answer is given until the next sound has ended, so the listener gives at
// most one answer per trial and never answers while a sound plays.
//
// Every press and release on its buttons and every key is timed where the
// input arrived (AnswerInput), not when this thread got to it: an answer's
// reaction time ends at its press, and a press made before the answer
// buttons came on never answers, even when it is handled after.
class SubjectWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit SubjectWindow(QWidget *parent = nullptr);
    ~SubjectWindow() override;

    // Takes the window off the screen without the listener's question, when
    // the run has to stop for a reason of its own (the sound failed): it
    // leaves full screen first, and does not report itself closed.
    void dismiss();

    // A break: the answer buttons go, the break text and "I am ready" come.
    // The run goes on from the listener's press, as at its start.
    void showBreak();

    // How the last message was given: by the mouse (or any click) or by a key.
    enum class Input { Mouse, Key };
    Input lastInput() const { return answer.byKey ? Input::Key : Input::Mouse; }
    // When the last message was given and its press, on the monotonic clock:
    // valid while subjectResponded is being emitted, not after.
    const AnswerTiming &lastAnswer() const { return answer; }
    // The best source of those times: what the journal names.
    InputTimeSource answerTimeSource() const;
    // When the answer buttons last came on (monotonic clock, ns).
    qint64 answersOnNs() const { return buttonsOnNs; }
    // Tells when this window lacks the keyboard focus.
    KeyboardFocusWatch *keyboardFocus() const { return focusWatch; }

signals:
    void subjectResponded(int response);
    void subjectWindowClosed();

    // The slots stay in this order: the main window connects to them by
    // signature, and their order in the meta-object is part of the class.
private slots:
    void on_pushButtonIAmReady_clicked();
public slots:
    void enableAllChoiceButtons();
private slots:
    void updateSubjectWindow(int index);
    void on_pushButtonChoice2_clicked();
    void on_pushButtonChoice4_clicked();
    void finishExperiment(qreal threshold, qreal reactionTime, qint32 mainParameter);

protected:
    // Runs for "Done" and for the window frame alike: asks before closing.
    void closeEvent(QCloseEvent *event) override;
    // Keys 2 and 4 (main row or keypad, by position whatever the layout, or
    // the characters 2 and 4) answer under the buttons' rules; Space, Return
    // and Enter press "I am ready" while it is shown. A key that repeats
    // because it is held down counts for nothing.
    void keyPressEvent(QKeyEvent *event) override;
    // Asks for the keyboard focus.
    void showEvent(QShowEvent *event) override;
    // Times the presses and releases on the buttons.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupLayout();
    // The timing of the click that `button` gives now: as its press and
    // release (or its key) were stamped, or its arrival where they were not.
    AnswerTiming takeTiming(QPushButton *button);

    QPushButton *pushButtonChoice2 = nullptr;
    QPushButton *pushButtonChoice4 = nullptr;
    QPushButton *pushButtonIAmReady = nullptr;
    QPushButton *pushButtonDone = nullptr;
    QLabel *labelThreshold = nullptr;
    QLabel *labelBreak = nullptr;
    QLabel *labelKeys = nullptr;
    QGridLayout *gridLayout = nullptr;
    QWidget *widgetCentral = nullptr;
    bool centerOnScreen = true;
    double widthFraction = 0.3;    // of the primary screen's available width
    double heightFraction = 0.2;   // of the primary screen's available height
    AnswerInput *answerInput = nullptr;
    KeyboardFocusWatch *focusWatch = nullptr;
    qint64 buttonsOnNs = 0;                // monotonic clock: the answer buttons came on
    QPushButton *pressedButton = nullptr;  // the button the mouse went down on
    InputStamp pressStamp;
    quint64 pressWindowTimeMs = 0;         // that press's window-system time
    bool pressRejected = false;            // that press came before the answer buttons did
    QPushButton *clickButton = nullptr;    // the button whose click is timed by `click`
    AnswerTiming click;
    AnswerTiming answer;                   // the message being sent

    // Tests drive the window through its private members.
    friend class SubjectWindowTester;
};

#endif // SUBJECTWINDOW_H
