#include "MirrorSync.h"

#include "service/DomWalk.h"
#include "service/MirrorRows.h"
#include "service/SyncParser.h"

#include <QLocale>
#include <QSqlQuery>

namespace {

// A stamp as the service writes it: a plain decimal ("12.5", "1715000000.0"),
// never an exponent, which the service would not read as a number.
QString stampText(const QVariant &stamp) {
    if (stamp.typeId() != QMetaType::Double)
        return stamp.toString();
    QString text = QString::number(stamp.toDouble(), 'f', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

bool writeElement(MirrorRows &rows, const QDomElement &body) {
    if (!rows.begin())
        return false;
    MirrorRows::Picker picker;
    MirrorRows::Row row;
    const auto leave = [&](const QDomNode &left) { picker.leave(left.toElement().tagName()); };
    for (QDomNode node = body.firstChild(); !node.isNull();
         node = DomWalk::next(node, body, leave)) {
        if (!node.isElement())
            continue;
        const QDomElement e = node.toElement();
        if (picker.pick(e, &row) && !rows.write(row))
            return false;
        if (!e.hasChildNodes())
            picker.leave(e.tagName());
    }
    return rows.end();
}

} // namespace

MirrorSync::MirrorSync() = default;

bool MirrorSync::apply(const QDomElement &body) {
    m_database.open();
    QSqlDatabase &db = m_database.db;
    bool ok = db.isOpen() && db.transaction();
    if (ok) {
        {
            MirrorRows rows(db);
            ok = writeElement(rows, body);
        }
        ok = ok ? db.commit() : (db.rollback(), false);
    }
    m_database.close();
    return ok;
}

bool MirrorSync::applyReply(const QByteArray &reply) {
    // In slices, as a reply arrives: the reader never decodes it whole at once.
    const qsizetype kSlice = 1 << 20;
    SyncParser parser;
    for (qsizetype at = 0; at < reply.size(); at += kSlice)
        parser.feed(reply.mid(at, kSlice));
    parser.finish();
    return parser.commit();
}

QString MirrorSync::codeSync(const QString &username) {
    QString result;
    m_database.open();
    {
        QSqlQuery q(m_database.db);
        q.prepare(
            QStringLiteral("SELECT max(tsupdate) FROM files WHERE token != '' AND username = ?"));
        q.addBindValue(username);
        if (q.exec() && q.next() && !q.value(0).isNull())
            result = stampText(q.value(0));
    }
    m_database.close();
    return result.isEmpty() ? QStringLiteral("0.0") : result;
}

bool MirrorSync::clearOtherUserData(const QString &username) {
    bool other = false;
    m_database.open();
    {
        QSqlQuery q(m_database.db);
        q.exec(QStringLiteral("SELECT username FROM files WHERE username!='' GROUP BY username"));
        while (!other && q.next())
            other = q.value(0).toString() != username;
        q.finish();
        if (other) {
            for (const char *sql : {"DELETE FROM files", "DELETE FROM metadati_values",
                                    "DELETE FROM buckets", "DELETE FROM policies"})
                q.exec(QString::fromLatin1(sql));
        }
    }
    m_database.close();
    return other;
}
