// Takes the README's screenshots from the real windows: the main window
// after "Practice" on the example stimuli (charts filled) and the listener's
// window after "Go". Run it on a real X display (scripts/screenshots.sh uses
// Xvfb); the folder dialog is answered the way the tests answer it.

#include "../tests/TestSupport.h"

#include "app/MainWindow.h"
#include "subject/SubjectWindow.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <cstdio>

class MainWindowTester
{
public:
    static int run(const QString &examples, const QString &outputFolder)
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

        QTest::mouseClick(w.pushButtonGo, Qt::LeftButton);
        QTest::qWait(800);
        if (!grab(w.subjectWindow, QDir(outputFolder).filePath(QStringLiteral("subject-window.png"))))
            return 1;
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s EXAMPLE_FOLDER OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    return MainWindowTester::run(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
}
