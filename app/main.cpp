#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Created for Qt 5.14.0: later 5.x releases keep that version's behaviour
    // wherever they tie a default to the version a program was made for.
    QApplication application(argc, argv, QT_VERSION_CHECK(5, 14, 0));
    // Names the program's data folder, where the trial journals are kept.
    QApplication::setApplicationName(QStringLiteral("tarquel"));
    MainWindow window;
    window.show();
    return application.exec();
}
