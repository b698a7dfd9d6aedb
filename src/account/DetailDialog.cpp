#include "account/DetailDialog.h"

#include "ui_detaildialog.h"

DetailDialog::DetailDialog(const QString &text, const QString &title, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DetailDialog) {
    ui->setupUi(this);
    setWindowTitle(title);
    ui->teDescription->setHtml(text);
    connect(ui->btmClose, &QPushButton::clicked, this, &QDialog::accept);
}

DetailDialog::~DetailDialog() {
    delete ui;
}
