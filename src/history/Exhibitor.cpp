#include "history/Exhibitor.h"

#include "ui_exhibitor.h"

Exhibitor::Exhibitor(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Exhibitor)
    , loadingMovie(QStringLiteral(":/images/loading.gif")) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowTitle(QStringLiteral("Esibizione a norma"));
    ui->lblLoading->setMovie(&loadingMovie);
    loadingMovie.start();
}

Exhibitor::~Exhibitor() {
    delete ui;
}
