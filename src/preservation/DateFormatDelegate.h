#pragma once

#include <QStyledItemDelegate>

// Shows a stored date-time ("yyyy-MM-dd hh:mm:ss" or ISO 8601) in the
// Italian day-first form "dd/MM/yyyy HH:mm:ss".
class DateFormatDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit DateFormatDelegate(QObject *parent = nullptr);

    // Empty for a value that is not a date-time; the locale is not used.
    QString displayText(const QVariant &value, const QLocale &locale) const override;
};
