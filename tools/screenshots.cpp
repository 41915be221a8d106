// Takes the README's screenshots from the real windows: the main window
// after "Practice" on the example stimuli (charts filled) and the listener's
// window after "Go". Run it on a real X display (scripts/screenshots.sh uses
// Xvfb); the folder dialog is answered the way the tests answer it.

#include "../tests/TestSupport.h"

#include "app/LabOptionsPanel.h"
#include "app/MainWindow.h"
#include "subject/SubjectWindow.h"

#include <QComboBox>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>

class MainWindowTester
{
public:
    static int run(const QString &examples, const QString &outputFolder, bool secondScreen)
    {
        MainWindow w;
        w.show();
        QTest::qWait(500);

        ModalDriver driver;
        driver.chooseFolder(examples);
        QTest::mouseClick(w.pushButtonPractice, Qt::LeftButton);
        if (driver.pending() != 0 || w.numSoundFiles == 0) {
            std::fprintf(stderr, "the example folder was not taken: %s\n", qPrintable(examples));
            return 1;
        }
        w.lineEditSubCode->setText(QStringLiteral("S01"));
        QTest::qWait(800);
        if (!grab(&w, QDir(outputFolder).filePath(QStringLiteral("main-window.png"))))
            return 1;

        if (secondScreen) {
            // The listener's window full screen on the second screen, as the
            // screen shows it.
            QComboBox *choice = w.labOptions->listenerScreenBox();
            choice->setCurrentIndex(choice->count() - 1);
            QTest::mouseClick(w.pushButtonGo, Qt::LeftButton);
            QTest::qWait(1200);
            const QList<QScreen *> screens = QGuiApplication::screens();
            if (screens.size() < 2 || !w.subjectWindow->isFullScreen()) {
                std::fprintf(stderr, "no second screen, or the window is not full screen on it\n");
                return 1;
            }
            const QString path = QDir(outputFolder).filePath(QStringLiteral("listener-second-screen.png"));
            const QPixmap pixmap = screens[1]->grabWindow(0);
            if (pixmap.isNull() || !pixmap.save(path))
                return 1;
            std::printf("%s (%dx%d)\n", qPrintable(path), pixmap.width(), pixmap.height());
        } else {
            QTest::mouseClick(w.pushButtonGo, Qt::LeftButton);
            QTest::qWait(800);
            if (!grab(w.subjectWindow, QDir(outputFolder).filePath(QStringLiteral("subject-window.png"))))
                return 1;
        }
        w.trialJournal.close();
        QFile::remove(w.trialJournal.filePath());
        return 0;
    }

private:
    // The window with its frame as the window manager (if any) draws it.
    static bool grab(QWidget *window, const QString &path)
    {
        const QPixmap pixmap = window->screen()->grabWindow(window->winId());
        if (pixmap.isNull() || !pixmap.save(path)) {
            std::fprintf(stderr, "could not save %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s (%dx%d)\n", qPrintable(path), pixmap.width(), pixmap.height());
        return true;
    }
};

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarquel-screenshots"));
    // The user's remembered settings are neither read nor changed here.
    QStandardPaths::setTestModeEnabled(true);
    if (argc != 3 && !(argc == 4 && QByteArray(argv[3]) == "--listener-on-second-screen")) {
        std::fprintf(stderr, "usage: %s EXAMPLE_FOLDER OUTPUT_FOLDER [--listener-on-second-screen]\n", argv[0]);
        return 2;
    }
    return MainWindowTester::run(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), argc == 4);
}
