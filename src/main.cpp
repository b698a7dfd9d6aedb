#include "mainwindow/CoreMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    CoreMain w;
    w.show();
    return app.exec();
}
