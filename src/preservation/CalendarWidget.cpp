#include "preservation/CalendarWidget.h"

#include "preservation/DatePopup.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {

QPushButton *iconButton(const QString &icon, QWidget *parent) {
    auto *button = new QPushButton(QIcon(icon), QString(), parent);
    button->setFlat(true);
    button->setAutoFillBackground(true);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

} // namespace

CalendarWidget::CalendarWidget(QWidget *parent)
    : QWidget(parent)
    , comboBox(new QComboBox(this))
    , lineEdit(new QLineEdit(comboBox))
    , calendarButton(iconButton(QStringLiteral(":/images/calendar.gif"), this))
    , cancelButton(iconButton(QStringLiteral(":/images/cancel.png"), this)) {
    comboBox->setEditable(true);
    comboBox->setLineEdit(lineEdit);
    comboBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    comboBox->setMinimumWidth(100);
    lineEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(comboBox);
    layout->addWidget(calendarButton);
    layout->addWidget(cancelButton);

    connect(calendarButton, &QPushButton::clicked, this, &CalendarWidget::onClickButton);
    connect(cancelButton, &QPushButton::clicked, this, &CalendarWidget::onClickButtonCancel);
}

void CalendarWidget::onClickButton() {
    DatePopup popup(nullptr);
    popup.placeBelow(calendarButton);
    // The wizard may go while the calendar is open (a sign-out, say).
    const QPointer<CalendarWidget> self(this);
    if (popup.exec() != QDialog::Accepted || !self)
        return;
    const QDate date = popup.selectedDate();
    lineEdit->setText(QStringLiteral("%1/%2/%3")
                          .arg(date.day(), 2, 10, QLatin1Char('0'))
                          .arg(date.month(), 2, 10, QLatin1Char('0'))
                          .arg(date.year()));
}

void CalendarWidget::onClickButtonCancel() {
    lineEdit->clear();
}
