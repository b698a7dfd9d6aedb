#include "preservation/DatePopup.h"

#include "ui_datepopup.h"

#include <QScreen>

DatePopup::DatePopup(QWidget *parent)
    : QDialog(parent, Qt::Popup)
    , ui(new Ui::DatePopup) {
    ui->setupUi(this);
    setSizeGripEnabled(false);
    setFixedSize(size());
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

DatePopup::~DatePopup() {
    delete ui;
}

QDate DatePopup::selectedDate() const {
    return ui->calendarWidget->selectedDate();
}

void DatePopup::placeBelow(const QWidget *anchor) {
    const QRect screen = anchor->screen()->availableGeometry();
    const QPoint top = anchor->mapToGlobal(QPoint(0, 0));
    QRect frame(QPoint(top.x(), top.y() + anchor->height()), size());
    if (frame.bottom() > screen.bottom())
        frame.moveBottom(top.y() - 1);
    if (frame.right() > screen.right())
        frame.moveRight(screen.right());
    if (frame.left() < screen.left())
        frame.moveLeft(screen.left());
    if (frame.top() < screen.top())
        frame.moveTop(screen.top());
    move(frame.topLeft());
}
