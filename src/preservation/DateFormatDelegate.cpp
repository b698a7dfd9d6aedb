#include "DateFormatDelegate.h"

#include <QDateTime>

DateFormatDelegate::DateFormatDelegate(QObject *parent)
    : QStyledItemDelegate(parent) {}

QString DateFormatDelegate::displayText(const QVariant &value, const QLocale &) const {
    QDateTime dateTime;
    if (value.metaType().id() == QMetaType::QDateTime) {
        dateTime = value.toDateTime();
    } else {
        // SQLite's datetime() puts a space where ISO 8601 has a "T".
        QString text = value.toString().trimmed();
        if (text.size() > 10 && text.at(10) == QLatin1Char(' '))
            text[10] = QLatin1Char('T');
        dateTime = QDateTime::fromString(text, Qt::ISODate);
    }
    return dateTime.isValid() ? dateTime.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))
                              : QString();
}
