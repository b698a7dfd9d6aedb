#pragma once

#include <QMainWindow>

// The main window. For now it only comes forward when another start of the
// program asks for it.
class CoreMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit CoreMain(QWidget *parent = nullptr);
};
