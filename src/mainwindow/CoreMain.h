#pragma once

#include "storage/Database.h"

#include <QDialog>

// The main window. For now it prepares the local mirror at start and only
// comes forward when another start of the program asks for it.
class CoreMain : public QDialog
{
    Q_OBJECT
public:
    explicit CoreMain(QWidget *parent = nullptr);

private:
    Database database;
};
