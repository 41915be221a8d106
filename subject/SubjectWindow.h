#ifndef SUBJECTWINDOW_H
#define SUBJECTWINDOW_H

#include <QMainWindow>

class QCloseEvent;
class QGridLayout;
class QKeyEvent;
class QLabel;
class QPushButton;

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
    Input lastInput() const { return input; }

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
    // Keys 2 and 4 (main row or keypad) answer under the buttons' rules;
    // Space, Return and Enter press "I am ready" while it is shown. A key
    // that repeats because it is held down counts for nothing.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setupLayout();

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
    Input input = Input::Mouse;

    // Tests drive the window through its private members.
    friend class SubjectWindowTester;
};

#endif // SUBJECTWINDOW_H
