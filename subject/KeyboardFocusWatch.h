#ifndef KEYBOARDFOCUSWATCH_H
#define KEYBOARDFOCUSWATCH_H

#include <QObject>
#include <QTimer>

class QWidget;

// Asks the window system to give a window the keyboard focus and watches that
// it keeps it: keys typed while another window has the focus never reach it.
// It tells when the window has not got the focus graceMs after asking, when
// it loses it (another window, a message box), and when it gets it back.
class KeyboardFocusWatch : public QObject
{
    Q_OBJECT

public:
    explicit KeyboardFocusWatch(QWidget *window);

    // Asks for the focus (activates and raises the window) unless the window
    // has it; checks graceMs later.
    void ask();
    bool windowHasFocus() const;

    // Long enough for a window manager to act on the request, short enough
    // that the experimenter hears of it before the listener's first answer.
    static constexpr int graceMs = 100;

signals:
    // false: the window has not got the focus graceMs after asking, or has
    // lost it; true: it has it again after that was said.
    void focusChanged(bool hasFocus);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void check();

    QWidget *window;
    QTimer grace;
    bool missingSaid = false;
    bool askWhenExposed = false;   // asked before the window was on the screen
};

#endif // KEYBOARDFOCUSWATCH_H
