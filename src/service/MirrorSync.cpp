#include "MirrorSync.h"

#include "service/DomWalk.h"
#include "storage/SearchIndex.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVector>

namespace {

// Rows of documents and values from which a body is indexed in bulk.
const qsizetype kBulkRows = 5000;

// A missing attribute is stored as empty text, never as NULL.
const QString kEmpty = QStringLiteral("");

QString text(const QDomElement &e, const QString &name) {
    return e.attribute(name, kEmpty);
}

int number(const QDomElement &e, const QString &name) {
    return e.attribute(name).toInt(nullptr, 10);
}

struct Folder {
    QDomElement element;
    QVector<QDomElement> fields;
};

// The body's elements by kind, in document order. A field belongs to every
// class it is nested in.
struct Content {
    QVector<QDomElement> buckets, policies, files, values;
    QVector<Folder> folders;
};

Content collect(const QDomElement &body) {
    static const QString bucket = QStringLiteral("bucket"), policie = QStringLiteral("policie"),
                         folder = QStringLiteral("folder"), metadato = QStringLiteral("metadato"),
                         file = QStringLiteral("file"), value = QStringLiteral("metadatoValue");
    Content c;
    QVector<int> open; // folders whose subtree is being walked
    const auto leave = [&](const QDomNode &left) {
        if (!open.isEmpty() && c.folders[open.last()].element == left)
            open.removeLast();
    };
    for (QDomNode node = body.firstChild(); !node.isNull();
         node = DomWalk::next(node, body, leave)) {
        if (!node.isElement())
            continue;
        const QDomElement e = node.toElement();
        const QString tag = e.tagName();
        if (tag == value) {
            c.values.append(e);
        } else if (tag == file) {
            c.files.append(e);
        } else if (tag == metadato) {
            for (const int f : std::as_const(open))
                c.folders[f].fields.append(e);
        } else if (tag == folder) {
            c.folders.append({e, {}});
            if (e.hasChildNodes())
                open.append(c.folders.size() - 1);
        } else if (tag == bucket) {
            c.buckets.append(e);
        } else if (tag == policie) {
            c.policies.append(e);
        }
    }
    return c;
}

// A statement that failed only because its row violates a key is skipped;
// anything else is a failure of the whole synchronisation.
bool execute(QSqlQuery &q) {
    if (q.exec())
        return true;
    const int code = q.lastError().nativeErrorCode().toInt();
    if ((code & 0xff) == 19) // SQLITE_CONSTRAINT, extended or not
        return true;
    qDebug() << "Sync failed:" << q.lastError().text();
    return false;
}

bool execute(QSqlQuery &q, const char *sql) {
    if (q.exec(QString::fromLatin1(sql)))
        return true;
    qDebug() << "Sync failed:" << q.lastError().text();
    return false;
}

bool prepare(QSqlQuery &q, const char *sql) {
    if (q.prepare(QString::fromLatin1(sql)))
        return true;
    qDebug() << "Sync failed:" << q.lastError().text();
    return false;
}

bool write(QSqlDatabase &db, const Content &c) {
    QSqlQuery q(db);
    for (const char *sql : {"DELETE FROM buckets", "DELETE FROM policies", "DELETE FROM folders",
                            "DELETE FROM metadati"}) {
        if (!execute(q, sql))
            return false;
    }

    if (!prepare(q, "INSERT INTO buckets (idbuckets, description, quota, used, unit, div) "
                    "VALUES (?, ?, ?, ?, ?, ?)"))
        return false;
    for (const QDomElement &e : c.buckets) {
        q.bindValue(0, text(e, QStringLiteral("id")));
        q.bindValue(1, text(e, QStringLiteral("description")));
        q.bindValue(2, text(e, QStringLiteral("quota")));
        q.bindValue(3, text(e, QStringLiteral("used")));
        q.bindValue(4, text(e, QStringLiteral("unit")));
        q.bindValue(5, text(e, QStringLiteral("div")));
        if (!execute(q))
            return false;
    }

    if (!prepare(q, "INSERT INTO policies (idpolicies, idbuckets, description) VALUES (?, ?, ?)"))
        return false;
    for (const QDomElement &e : c.policies) {
        q.bindValue(0, text(e, QStringLiteral("policie")));
        q.bindValue(1, text(e, QStringLiteral("idbucket")));
        q.bindValue(2, text(e, QStringLiteral("description")));
        if (!execute(q))
            return false;
    }

    QSqlQuery fq(db);
    if (!prepare(q, "INSERT INTO folders (idfolder, name, groups, custom, idbuckets, idpolicies) "
                    "VALUES (?, ?, ?, ?, ?, ?)") ||
        !prepare(fq, "INSERT INTO metadati (idmetadato, idfolder, nome, tipo, visibile, "
                     "required, custom) VALUES (?, ?, ?, ?, ?, ?, ?)"))
        return false;
    for (const Folder &f : c.folders) {
        const QDomElement &e = f.element;
        q.bindValue(0, number(e, QStringLiteral("id")));
        q.bindValue(1, text(e, QStringLiteral("name")));
        q.bindValue(2, text(e, QStringLiteral("groups")));
        q.bindValue(3, text(e, QStringLiteral("custom")));
        q.bindValue(4, text(e, QStringLiteral("idbuckets")));
        q.bindValue(5, text(e, QStringLiteral("idpolicies")));
        if (!execute(q))
            return false;
        for (const QDomElement &m : f.fields) {
            fq.bindValue(0, number(m, QStringLiteral("idmetadato")));
            fq.bindValue(1, number(m, QStringLiteral("idfolder")));
            fq.bindValue(2, text(m, QStringLiteral("name")));
            fq.bindValue(3, number(m, QStringLiteral("type")));
            fq.bindValue(4, number(m, QStringLiteral("visible")));
            fq.bindValue(5, number(m, QStringLiteral("required")));
            fq.bindValue(6, number(m, QStringLiteral("custom")));
            if (!execute(fq))
                return false;
        }
    }
    fq.finish();

    // A large body is indexed for the search once at the end, not row by row.
    SearchIndex::Bulk bulk;
    if (c.files.size() + c.values.size() >= kBulkRows && !SearchIndex::suspend(db, &bulk))
        return false;

    if (!prepare(q, "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, "
                    "folderid, username, tsupdate, idbuckets, tsconserve, computer_name) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
        return false;
    for (const QDomElement &e : c.files) {
        q.bindValue(0, text(e, QStringLiteral("hash")));
        q.bindValue(1, text(e, QStringLiteral("hash4k")));
        q.bindValue(2, text(e, QStringLiteral("last_modified")));
        q.bindValue(3, text(e, QStringLiteral("filename")));
        q.bindValue(4, text(e, QStringLiteral("token")));
        q.bindValue(5, number(e, QStringLiteral("idfolder")));
        q.bindValue(6, text(e, QStringLiteral("username")));
        q.bindValue(7, text(e, QStringLiteral("tsupdate")));
        q.bindValue(8, text(e, QStringLiteral("idbuckets")));
        q.bindValue(9, text(e, QStringLiteral("tsconserve")));
        q.bindValue(10, text(e, QStringLiteral("computer_name")));
        if (!execute(q))
            return false;
    }

    if (!prepare(q, "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) "
                    "VALUES (?, ?, ?)"))
        return false;
    for (const QDomElement &e : c.values) {
        q.bindValue(0, text(e, QStringLiteral("key")));
        q.bindValue(1, text(e, QStringLiteral("value")));
        q.bindValue(2, text(e, QStringLiteral("hash")));
        if (!execute(q))
            return false;
    }
    q.finish();
    return SearchIndex::resume(db, bulk);
}

} // namespace

MirrorSync::MirrorSync() = default;

bool MirrorSync::apply(const QDomElement &body) {
    const Content content = collect(body);
    m_database.open();
    QSqlDatabase &db = m_database.db;
    bool ok = db.isOpen() && db.transaction();
    if (ok) {
        ok = write(db, content);
        ok = ok ? db.commit() : (db.rollback(), false);
    }
    m_database.close();
    return ok;
}

QString MirrorSync::codeSync(const QString &username) {
    QString result;
    m_database.open();
    {
        QSqlQuery q(m_database.db);
        q.prepare(
            QStringLiteral("SELECT max(tsupdate) FROM files WHERE token != '' AND username = ?"));
        q.addBindValue(username);
        if (q.exec() && q.next())
            result = q.value(0).toString();
    }
    m_database.close();
    return result.isEmpty() ? QStringLiteral("0.0") : result;
}

void MirrorSync::clearOtherUserData(const QString &username) {
    m_database.open();
    {
        QSqlQuery q(m_database.db);
        q.exec(QStringLiteral("SELECT username FROM files WHERE username!='' GROUP BY username"));
        bool other = false;
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
}
