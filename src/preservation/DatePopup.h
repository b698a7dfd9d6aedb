#pragma once

#include <QDate>
#include <QDialog>

namespace Ui {
class DatePopup;
}

// The calendar that a date field's button opens: a frameless popup that
// closes when the user clicks elsewhere.
class DatePopup : public QDialog {
    Q_OBJECT
public:
    explicit DatePopup(QWidget *parent = nullptr);
    ~DatePopup() override;

    QDate selectedDate() const;
    // Below `anchor`, or above it where the screen ends first; never off the
    // screen at the sides.
    void placeBelow(const QWidget *anchor);

private:
    Ui::DatePopup *ui;
};
