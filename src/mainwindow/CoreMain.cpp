#include "mainwindow/CoreMain.h"

CoreMain::CoreMain(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quillora Lite"));
}
