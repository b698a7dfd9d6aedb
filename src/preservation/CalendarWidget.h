#pragma once

#include <QWidget>

class QComboBox;
class QLineEdit;
class QPushButton;

// The editor of a date field: the date as text, typed or chosen from a
// calendar, and a button that empties it. The wizard fills and reads the
// members directly.
class CalendarWidget : public QWidget {
    Q_OBJECT
public:
    explicit CalendarWidget(QWidget *parent = nullptr);

    QComboBox *comboBox;
    QLineEdit *lineEdit; // comboBox's own line edit
    QPushButton *calendarButton;
    QPushButton *cancelButton;

public slots:
    void onClickButton();
    void onClickButtonCancel();
};
