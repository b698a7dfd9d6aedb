#include "ListFileDelegate.h"

#include "LocalFingerprintCache.h"

#include <QDir>
#include <QFileInfo>
#include <QPixmap>

namespace {

enum Column { Hash = 0, FileName = 1, Folder = 3, Date = 5, Token = 6, FolderId = 7 };

QString fileNameOf(const QString &rawPath) {
    return QFileInfo(ListFileDelegate::normalisedPath(rawPath)).fileName();
}

// Both separators are cut before asking for the folder: a path stored on
// another system must give the same folder here.
QString folderOf(const QString &rawPath) {
    const QString slashed = QString(rawPath).replace(QLatin1Char('\\'), QLatin1Char('/'));
    return ListFileDelegate::normalisedPath(QFileInfo(slashed).absolutePath());
}

} // namespace

ListFileDelegate::ListFileDelegate(QObject *parent)
    : QSqlQueryModel(parent) {}

QString ListFileDelegate::normalisedPath(const QString &path) {
    QString result = path;
    result.replace(QLatin1Char('\\'), QLatin1Char('/'));
    result.replace(QLatin1Char('/'), QDir::separator());
    return result;
}

QString ListFileDelegate::highlight(const QString &piece) {
    return QStringLiteral("<span style=\"background-color:yellow\">") + piece +
           QStringLiteral("</span>");
}

QString ListFileDelegate::markText(const QString &text, const QString &search) {
    if (search.isEmpty())
        return text.toHtmlEscaped();
    int at = text.indexOf(search, 0, Qt::CaseInsensitive);
    if (at < 0)
        return text.toHtmlEscaped();
    // The cell is drawn as rich text: its own characters are escaped, so a
    // name holding "<" or "&" shows as it is.
    const QString marked = highlight(text.mid(at, search.size()).toHtmlEscaped());
    QString result;
    int from = 0;
    while (at >= 0) {
        result += QStringView(text).mid(from, at - from).toString().toHtmlEscaped() + marked;
        from = at + search.size();
        at = text.indexOf(search, from, Qt::CaseInsensitive);
    }
    return result + QStringView(text).mid(from).toString().toHtmlEscaped();
}

QVariant ListFileDelegate::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.model() != this)
        return QVariant();
    const int column = index.column();
    if (role == Qt::UserRole && (column == FileName || column == Folder)) {
        const QString raw = QSqlQueryModel::data(index, Qt::DisplayRole).toString();
        return column == FileName ? fileNameOf(raw) : folderOf(raw);
    }
    if (role == Qt::DecorationRole && column == FileName)
        return localCopyIcon(index.row());
    // A text under a style role would not be ignored: views draw a check box
    // for any non-null check-state value.
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QSqlQueryModel::data(index, role);

    QString text;
    if (role == Qt::DisplayRole && column == FileName) {
        text = fileNameOf(QSqlQueryModel::data(index, Qt::DisplayRole).toString());
    } else if (role == Qt::DisplayRole && column == Folder) {
        // The folder part as stored, with its trailing separator: only the
        // file name at the end goes, not its repetitions inside folder names.
        const QString raw = QSqlQueryModel::data(index, Qt::DisplayRole).toString();
        text = raw.left(raw.size() - fileNameOf(raw).size());
    } else {
        text = QSqlQueryModel::data(index, role).toString();
    }
    // Fingerprint, token and class id are values other code reads back; the
    // date column's delegate draws plain text.
    if (role != Qt::DisplayRole || column == Hash || column == Date || column == Token ||
        column == FolderId)
        return text;
    return markText(text, highlightText);
}

QVariant ListFileDelegate::localCopyIcon(int row) const {
    const QString path = data(index(row, Folder), Qt::UserRole).toString() + QLatin1Char('/') +
                         data(index(row, FileName), Qt::UserRole).toString();
    const QString stored = data(index(row, Hash), Qt::DisplayRole).toString();
    const QString local = LocalFingerprintCache::instance().fingerprint(path);
    return QPixmap(!local.isEmpty() && local == stored ? QStringLiteral(":/images/cloudandpc.png")
                                                       : QStringLiteral(":/images/cloudonly.png"));
}
