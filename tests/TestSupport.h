#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

// Shared by the tests that drive whole sessions: a writer of small WAV files
// and a driver that answers the program's modal dialogs the way a person
// would, from a timer, while the code under test waits in exec().

#include <QAbstractButton>
#include <QApplication>
#include <QDataStream>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QVector>

#include <QTest>

#include <cstdio>
#include <functional>

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// Writes a canonical 44-byte-header 16-bit PCM file.
inline bool writeWav16(const QString &path, const QVector<qint16> &frames, quint32 rate,
                       quint16 channels = 1)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = quint32(frames.size()) * 2;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << channels << rate << quint32(rate * channels * 2)
        << quint16(channels * 2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (qint16 v : frames)
        out << v;
    return out.status() == QDataStream::Ok;
}

// The push button of a window that shows `text`, as a person finds it.
inline QPushButton *buttonWithText(QWidget *window, const QString &text)
{
    for (QPushButton *b : window->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

class ModalDriver : public QObject
{
public:
    struct Seen
    {
        QString className;
        QString title;
        QString text;
        bool enabled = false;
        QString proposedFile;   // a file dialog's file name as it opened
        int defaultButton = 0;  // a message box's default, as a QMessageBox::StandardButton
    };

    ModalDriver()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }

    // The next folder dialog gets `folder`; an empty folder cancels it.
    void chooseFolder(const QString &folder) { steps.append(fileStep(folder)); }
    // The next save dialog gets `path`; an empty path cancels it.
    void chooseSavePath(const QString &path) { steps.append(fileStep(path)); }
    void answerMessage(QMessageBox::StandardButton button)
    {
        steps.append([button](QWidget *widget) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box)
                return false;
            box->button(button)->click();
            return true;
        });
    }

    // The next modal window is handed to step, which returns whether it
    // dealt with it (a window it does not know waits for the next step).
    void handle(std::function<bool(QWidget *)> step) { steps.append(std::move(step)); }

    int pending() const { return steps.size(); }
    QList<Seen> seen;

private:
    static std::function<bool(QWidget *)> fileStep(const QString &path)
    {
        return [path](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            if (!dialog)
                return false;
            if (path.isEmpty()) {
                dialog->reject();
                return true;
            }
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!edit)
                return false;
            edit->setText(path);
            // Queued: accepting may ask a question of its own (replace an
            // existing file?), which the next step answers.
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            return true;
        };
    }

    void poll()
    {
        QWidget *widget = QApplication::activeModalWidget();
        if (!widget || widget == handled || steps.isEmpty())
            return;
        Seen s;
        s.className = QString::fromLatin1(widget->metaObject()->className());
        s.title = widget->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(widget)) {
            s.text = box->text();
            s.defaultButton = box->defaultButton() ? int(box->standardButton(box->defaultButton())) : 0;
        }
        if (auto *dialog = qobject_cast<QFileDialog *>(widget))
            s.proposedFile = dialog->selectedFiles().value(0);
        s.enabled = widget->isEnabled();
        if (steps.first()(widget)) {
            steps.removeFirst();
            seen.append(s);
            handled = widget;
        }
    }

    QTimer timer;
    QList<std::function<bool(QWidget *)>> steps;
    QPointer<QWidget> handled;
};

// QTEST_MAIN for the tests that play sound, ending the process without the
// static teardown: libpulse can abort in the audio engine's exit teardown
// (an assertion in its main loop) after every test has passed. The leak check
// of a sanitizer build runs first, while everything still reachable is.
inline int finishWithoutTeardown(int status)
{
#if defined(__SANITIZE_ADDRESS__)
    if (__lsan_do_recoverable_leak_check() != 0)
        status = status != 0 ? status : 1;
#endif
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

#define TARQUEL_AUDIO_TEST_MAIN(TestObject)                      \
    int main(int argc, char *argv[])                             \
    {                                                            \
        QApplication app(argc, argv);                            \
        app.setAttribute(Qt::AA_Use96Dpi, true);                 \
        QStandardPaths::setTestModeEnabled(true);                \
        QSettings(QSettings::NativeFormat, QSettings::UserScope, \
                  QStringLiteral("tarquel"), QStringLiteral("tarquel")).clear(); \
        TestObject tc;                                           \
        QTEST_SET_MAIN_SOURCE_PATH                               \
        return finishWithoutTeardown(QTest::qExec(&tc, argc, argv)); \
    }

#endif // TESTSUPPORT_H
