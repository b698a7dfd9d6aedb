#include "ListFileDelegate.h"

#include "LocalFingerprintCache.h"

#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QSqlQuery>

namespace {

const char *const kHeaders[ListFileDelegate::Columns] = {"Hash",   "File",          "Computer name", "Percorso",
                                       "Classi", "Conservato il", "Token",         "IdFolder"};

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
    : QAbstractTableModel(parent) {}

int ListFileDelegate::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ListFileDelegate::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant ListFileDelegate::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < Columns)
        return tr(kHeaders[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void ListFileDelegate::setRows(FileListQuery::Rows rows) {
    beginResetModel();
    m_rows.swap(rows);
    endResetModel();
}

void ListFileDelegate::setQuery(QSqlQuery &&query) {
    QSqlQuery executed(std::move(query));
    setRows(FileListQuery::read(executed));
}

QString ListFileDelegate::raw(int row, int column) const {
    return m_rows.at(row).value(column).toString();
}

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
    const int row = index.row();
    const int column = index.column();
    if (role == Qt::UserRole && (column == FileName || column == Folder)) {
        const QString path = raw(row, column);
        return column == FileName ? fileNameOf(path) : folderOf(path);
    }
    if (role == Qt::DecorationRole && column == FileName)
        return localCopyIcon(row);
    if (role == Qt::EditRole)
        return m_rows.at(row).value(column);
    // A text under a style role would not be ignored: views draw a check box
    // for any non-null check-state value.
    if (role != Qt::DisplayRole)
        return QVariant();

    QString text = raw(row, column);
    if (column == FileName) {
        text = fileNameOf(text);
    } else if (column == Folder) {
        // The folder part as stored, with its trailing separator: only the
        // file name at the end goes, not its repetitions inside folder names.
        text.chop(fileNameOf(text).size());
    }
    // Fingerprint, token and class id are values other code reads back; the
    // date column's delegate draws plain text.
    if (column == Hash || column == Date || column == Token || column == FolderId)
        return text;
    return markText(text, highlightText);
}

QVariant ListFileDelegate::localCopyIcon(int row) const {
    const QString path = data(index(row, Folder), Qt::UserRole).toString() + QLatin1Char('/') +
                         data(index(row, FileName), Qt::UserRole).toString();
    const QString stored = raw(row, Hash);
    const QString local = LocalFingerprintCache::instance().fingerprint(path);
    return QPixmap(!local.isEmpty() && local == stored ? QStringLiteral(":/images/cloudandpc.png")
                                                       : QStringLiteral(":/images/cloudonly.png"));
}
