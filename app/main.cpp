#include "app/MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Names the program's data folder, where the trial journals are kept.
    QApplication::setApplicationName(QStringLiteral("tarquel"));
    MainWindow window;
    window.show();
    return application.exec();
}
