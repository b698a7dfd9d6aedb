#include "mainwindow/CoreMain.h"

CoreMain::CoreMain(QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("Quillora Lite"));
    // The per-user data directory and its schema exist from the first start.
    database.open();
    database.close();
}
