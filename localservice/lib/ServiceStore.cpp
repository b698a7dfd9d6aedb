#include "ServiceStore.h"

#include "BatchInsert.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

#include <cmath>

namespace {
const char kDatabaseFile[] = "localservice.sqlite";
const char kContentDir[] = "contents";
const char kStampFormat[] = "dd/MM/yyyy hh:mm:ss";

// Unguessable hex text of `bytes` random bytes.
QString randomHex(int bytes, QRandomGenerator *generator = QRandomGenerator::system()) {
    QList<quint32> words((bytes + 3) / 4);
    generator->fillRange(words.data(), words.size());
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words.constData()), bytes).toHex());
}

QString passwordDigest(const QString &salt, const QString &password) {
    return QString::fromLatin1(
        QCryptographicHash::hash((salt + password).toUtf8(), QCryptographicHash::Sha256).toHex());
}

const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT)",
    "CREATE TABLE IF NOT EXISTS users (name TEXT PRIMARY KEY, salt TEXT NOT NULL,"
    " password TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS profiles (id TEXT PRIMARY KEY, owner TEXT NOT NULL,"
    " description TEXT, quota INTEGER NOT NULL, used INTEGER NOT NULL DEFAULT 0,"
    " unit TEXT, div INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS policies (id TEXT NOT NULL, profile_id TEXT NOT NULL,"
    " description TEXT, PRIMARY KEY(id, profile_id))",
    "CREATE TABLE IF NOT EXISTS classes (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " profile_id TEXT NOT NULL, name TEXT NOT NULL, groups TEXT, policy_id TEXT,"
    " custom INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS fields (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " class_id INTEGER NOT NULL, name TEXT NOT NULL, type INTEGER NOT NULL,"
    " required INTEGER NOT NULL, visible INTEGER NOT NULL DEFAULT 1,"
    " custom INTEGER NOT NULL DEFAULT 0, tooltip TEXT, initial_value TEXT)",
    "CREATE INDEX IF NOT EXISTS fields_class ON fields (class_id)",
    "CREATE TABLE IF NOT EXISTS contents (hash TEXT PRIMARY KEY, size INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS uploads (owner TEXT NOT NULL, class_id INTEGER NOT NULL,"
    " hash TEXT NOT NULL, hash4k TEXT, file_name TEXT, size INTEGER NOT NULL,"
    " last_modified TEXT, replaced_hash TEXT, PRIMARY KEY(owner, class_id, hash))",
    "CREATE TABLE IF NOT EXISTS versions (id INTEGER PRIMARY KEY, document_id INTEGER NOT NULL,"
    " owner TEXT NOT NULL, hash TEXT NOT NULL, hash4k TEXT, token TEXT NOT NULL UNIQUE,"
    " file_name TEXT, size INTEGER NOT NULL, class_id INTEGER NOT NULL, profile_id TEXT NOT NULL,"
    " last_modified TEXT, tsconserve TEXT, tsupdate REAL NOT NULL, computer_name TEXT,"
    " current INTEGER NOT NULL, exhibit_code TEXT NOT NULL UNIQUE)",
    "CREATE INDEX IF NOT EXISTS versions_sync ON versions (owner, current, tsupdate)",
    "CREATE INDEX IF NOT EXISTS versions_lookup ON versions (owner, class_id, hash)",
    "CREATE INDEX IF NOT EXISTS versions_document ON versions (document_id)",
    "CREATE TABLE IF NOT EXISTS field_values (version_id INTEGER NOT NULL,"
    " field_id INTEGER NOT NULL, value TEXT, PRIMARY KEY(version_id, field_id)) WITHOUT ROWID",
};

const char kVersionColumns[] =
    "id, document_id, owner, hash, hash4k, token, file_name, size, class_id, profile_id,"
    " last_modified, tsconserve, tsupdate, computer_name, current, exhibit_code";
} // namespace

ServiceStore::ServiceStore()
    : m_connectionName(QStringLiteral("localservice-%1").arg(quintptr(this), 0, 16)) {}

ServiceStore::~ServiceStore() {
    close();
}

QSqlDatabase ServiceStore::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

bool ServiceStore::fail(const QString &message, ErrorKind kind) {
    m_lastError = message;
    m_lastErrorKind = kind;
    return false;
}

bool ServiceStore::open(const QString &dataDir, QString *error) {
    close();
    m_dataDir = QDir(dataDir).absolutePath();
    m_lastError.clear();
    m_lastErrorKind = ErrorKind::None;
    if (!QDir().mkpath(QDir(m_dataDir).filePath(QLatin1String(kContentDir)))) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(m_dataDir);
        return false;
    }
    const QString file = QDir(m_dataDir).filePath(QLatin1String(kDatabaseFile));
    m_created = !QFile::exists(file);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(file);
    if (!db.open() || !createSchema()) {
        if (error)
            *error = m_lastError.isEmpty() ? db.lastError().text() : m_lastError;
        close();
        return false;
    }
    return true;
}

void ServiceStore::close() {
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool ServiceStore::isOpen() const {
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

bool ServiceStore::createSchema() {
    QSqlQuery q(database());
    // Losing the last seconds on a power cut is acceptable for a stand-in
    // service; the speed of big generated accounts is not optional.
    q.exec(QStringLiteral("PRAGMA journal_mode=TRUNCATE"));
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    for (const char *statement : kSchema) {
        if (!q.exec(QLatin1String(statement)))
            return fail(q.lastError().text(), ErrorKind::Storage);
    }
    return true;
}

QString ServiceStore::fingerprint(const QByteArray &content) {
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
}

QString ServiceStore::headFingerprint(const QByteArray &content) {
    return content.isEmpty() ? QString() : fingerprint(content.left(4096));
}

qint64 ServiceStore::reserveCounter(const QString &name, qint64 count) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT value FROM meta WHERE key = ?"));
    q.addBindValue(name);
    const qint64 first = (q.exec() && q.next()) ? q.value(0).toLongLong() + 1 : 1;
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)"));
    q.addBindValue(name);
    q.addBindValue(QString::number(first + count - 1));
    return q.exec() ? first : 0;
}

// Stamps are seconds since the epoch with milliseconds, never reused and
// never going back, even when the clock does or many come in one
// millisecond. Returns the first of `count` stamps 0.001 apart.
double ServiceStore::reserveStamps(int count) {
    QSqlQuery q(database());
    q.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'last_stamp'"));
    const double last = q.next() ? q.value(0).toDouble() : 0.0;
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const double first = std::round((std::max(now, last + 0.001)) * 1000.0) / 1000.0;
    const double end = first + (count - 1) * 0.001;
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO meta (key, value) VALUES ('last_stamp', ?)"));
    q.addBindValue(QString::number(end, 'f', 3));
    return q.exec() ? first : 0.0;
}

// --- accounts ---------------------------------------------------------------

bool ServiceStore::createUser(const QString &name, const QString &password) {
    if (name.trimmed().isEmpty() || name != name.trimmed())
        return fail(QStringLiteral("invalid user name"));
    if (password.isEmpty())
        return fail(QStringLiteral("empty password"));
    if (userExists(name))
        return fail(QStringLiteral("user %1 exists").arg(name), ErrorKind::Duplicate);
    const QString salt = randomHex(8);
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT INTO users (name, salt, password) VALUES (?, ?, ?)"));
    q.addBindValue(name);
    q.addBindValue(salt);
    q.addBindValue(passwordDigest(salt, password));
    return q.exec() || fail(q.lastError().text(), ErrorKind::Storage);
}

bool ServiceStore::userExists(const QString &name) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT 1 FROM users WHERE name = ?"));
    q.addBindValue(name);
    return q.exec() && q.next();
}

bool ServiceStore::checkPassword(const QString &name, const QString &password) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT salt, password FROM users WHERE name = ?"));
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        return false;
    return passwordDigest(q.value(0).toString(), password) == q.value(1).toString();
}

bool ServiceStore::setPassword(const QString &name, const QString &password) {
    if (password.isEmpty())
        return fail(QStringLiteral("empty password"));
    const QString salt = randomHex(8);
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE users SET salt = ?, password = ? WHERE name = ?"));
    q.addBindValue(salt);
    q.addBindValue(passwordDigest(salt, password));
    q.addBindValue(name);
    if (!q.exec())
        return fail(q.lastError().text(), ErrorKind::Storage);
    return q.numRowsAffected() == 1 ||
           fail(QStringLiteral("no user %1").arg(name), ErrorKind::NotFound);
}

QString ServiceStore::addProfile(const QString &owner, const QString &description,
                                 qint64 quotaBytes, const QString &unit, qint64 div) {
    if (!userExists(owner)) {
        fail(QStringLiteral("no user %1").arg(owner), ErrorKind::NotFound);
        return QString();
    }
    if (quotaBytes < 0 || div <= 0) {
        fail(QStringLiteral("quota must not be negative and the divisor must be positive"));
        return QString();
    }
    const qint64 number = reserveCounter(QStringLiteral("profile"), 1);
    const QString id = QStringLiteral("BKT%1").arg(number, 4, 10, QLatin1Char('0'));
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT INTO profiles (id, owner, description, quota, used, unit, div)"
                             " VALUES (?, ?, ?, ?, 0, ?, ?)"));
    q.addBindValue(id);
    q.addBindValue(owner);
    q.addBindValue(description);
    q.addBindValue(quotaBytes);
    q.addBindValue(unit);
    q.addBindValue(div);
    if (number == 0 || !q.exec()) {
        fail(q.lastError().text(), ErrorKind::Storage);
        return QString();
    }
    return id;
}

QString ServiceStore::addPolicy(const QString &profileId, const QString &description) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT 1 FROM profiles WHERE id = ?"));
    q.addBindValue(profileId);
    if (!q.exec() || !q.next()) {
        fail(QStringLiteral("no profile %1").arg(profileId), ErrorKind::NotFound);
        return QString();
    }
    const QString id = QStringLiteral("POL%1").arg(reserveCounter(QStringLiteral("policy"), 1), 3,
                                                   10, QLatin1Char('0'));
    q.prepare(
        QStringLiteral("INSERT INTO policies (id, profile_id, description) VALUES (?, ?, ?)"));
    q.addBindValue(id);
    q.addBindValue(profileId);
    q.addBindValue(description);
    if (!q.exec()) {
        fail(q.lastError().text(), ErrorKind::Storage);
        return QString();
    }
    return id;
}

int ServiceStore::addClass(const QString &profileId, const QString &name, const QString &groups,
                           const QString &policyId) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT 1 FROM profiles WHERE id = ?"));
    q.addBindValue(profileId);
    if (!q.exec() || !q.next())
        return fail(QStringLiteral("no profile %1").arg(profileId), ErrorKind::NotFound), 0;
    if (name.trimmed().isEmpty())
        return fail(QStringLiteral("empty class name")), 0;
    if (!policyId.isEmpty()) {
        q.prepare(QStringLiteral("SELECT 1 FROM policies WHERE id = ? AND profile_id = ?"));
        q.addBindValue(policyId);
        q.addBindValue(profileId);
        if (!q.exec() || !q.next())
            return fail(QStringLiteral("no policy %1 in %2").arg(policyId, profileId),
                        ErrorKind::NotFound),
                   0;
    }
    q.prepare(QStringLiteral(
        "INSERT INTO classes (profile_id, name, groups, policy_id) VALUES (?, ?, ?, ?)"));
    q.addBindValue(profileId);
    q.addBindValue(name);
    q.addBindValue(groups);
    q.addBindValue(policyId);
    if (!q.exec())
        return fail(q.lastError().text(), ErrorKind::Storage), 0;
    return q.lastInsertId().toInt();
}

int ServiceStore::addField(int classId, const QString &name, int type, bool required,
                           const QString &tooltip, const QString &initialValue) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT 1 FROM classes WHERE id = ?"));
    q.addBindValue(classId);
    if (!q.exec() || !q.next())
        return fail(QStringLiteral("no class %1").arg(classId), ErrorKind::NotFound), 0;
    if (name.trimmed().isEmpty())
        return fail(QStringLiteral("empty field name")), 0;
    if (type < FieldType::Text || type > FieldType::Date)
        return fail(QStringLiteral("unknown field type %1").arg(type)), 0;
    q.prepare(QStringLiteral("INSERT INTO fields (class_id, name, type, required, tooltip,"
                             " initial_value) VALUES (?, ?, ?, ?, ?, ?)"));
    q.addBindValue(classId);
    q.addBindValue(name);
    q.addBindValue(type);
    q.addBindValue(required ? 1 : 0);
    q.addBindValue(tooltip);
    q.addBindValue(initialValue);
    if (!q.exec())
        return fail(q.lastError().text(), ErrorKind::Storage), 0;
    return q.lastInsertId().toInt();
}

PreservedVersion ServiceStore::preserve(const QString &owner, int classId, const QString &fileName,
                                        const QByteArray &content, const QMap<int, QString> &values,
                                        const QString &replacedHash, const QString &computerName) {
    const StoredClass cls = classOf(owner, classId);
    if (!cls.isValid()) {
        fail(QStringLiteral("no class %1 for %2").arg(classId).arg(owner), ErrorKind::NotFound);
        return PreservedVersion();
    }
    QList<int> known;
    for (const StoredField &field : fieldsOf(classId))
        known.append(field.id);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!known.contains(it.key())) {
            fail(QStringLiteral("field %1 is not in class %2").arg(it.key()).arg(classId));
            return PreservedVersion();
        }
    }
    PendingUpload upload;
    upload.owner = owner;
    upload.classId = classId;
    upload.hash = fingerprint(content);
    upload.hash4k = headFingerprint(content);
    upload.fileName = fileName;
    upload.size = content.size();
    upload.lastModified = QDateTime::currentDateTime().addDays(-1).toString(Qt::ISODate).left(19);
    upload.replacedHash = replacedHash;
    if (!storeContent(content, upload.hash))
        return PreservedVersion();
    return commitUpload(upload, values, computerName);
}

// --- lookups ----------------------------------------------------------------

StoredClass ServiceStore::classOf(const QString &owner, int classId) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral(
        "SELECT c.id, c.profile_id, p.owner, c.name, c.groups, c.policy_id, c.custom"
        " FROM classes c JOIN profiles p ON p.id = c.profile_id WHERE c.id = ? AND p.owner = ?"));
    q.addBindValue(classId);
    q.addBindValue(owner);
    StoredClass cls;
    if (q.exec() && q.next()) {
        cls.id = q.value(0).toInt();
        cls.profileId = q.value(1).toString();
        cls.owner = q.value(2).toString();
        cls.name = q.value(3).toString();
        cls.groups = q.value(4).toString();
        cls.policyId = q.value(5).toString();
        cls.custom = q.value(6).toInt();
    }
    return cls;
}

QList<StoredField> ServiceStore::fieldsOf(int classId) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT id, class_id, name, type, required, visible, custom, tooltip,"
                             " initial_value FROM fields WHERE class_id = ? ORDER BY id"));
    q.addBindValue(classId);
    QList<StoredField> fields;
    if (!q.exec())
        return fields;
    while (q.next()) {
        StoredField f;
        f.id = q.value(0).toInt();
        f.classId = q.value(1).toInt();
        f.name = q.value(2).toString();
        f.type = q.value(3).toInt();
        f.required = q.value(4).toInt() != 0;
        f.visible = q.value(5).toInt() != 0;
        f.custom = q.value(6).toInt();
        f.tooltip = q.value(7).toString();
        f.initialValue = q.value(8).toString();
        fields.append(f);
    }
    return fields;
}

PreservedVersion ServiceStore::readVersion(const QString &where, const QVariantList &bindings) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT %1 FROM versions WHERE %2 ORDER BY id DESC LIMIT 1")
                  .arg(QLatin1String(kVersionColumns), where));
    for (const QVariant &value : bindings)
        q.addBindValue(value);
    PreservedVersion v;
    if (!q.exec() || !q.next())
        return v;
    v.id = q.value(0).toLongLong();
    v.documentId = q.value(1).toLongLong();
    v.owner = q.value(2).toString();
    v.hash = q.value(3).toString();
    v.hash4k = q.value(4).toString();
    v.token = q.value(5).toString();
    v.fileName = q.value(6).toString();
    v.size = q.value(7).toLongLong();
    v.classId = q.value(8).toInt();
    v.profileId = q.value(9).toString();
    v.lastModified = q.value(10).toString();
    v.tsconserve = q.value(11).toString();
    v.tsupdate = q.value(12).toDouble();
    v.computerName = q.value(13).toString();
    v.current = q.value(14).toInt() != 0;
    v.exhibitCode = q.value(15).toString();
    return v;
}

PreservedVersion ServiceStore::currentVersion(const QString &owner, int classId,
                                              const QString &hash) {
    return readVersion(QStringLiteral("owner = ? AND class_id = ? AND hash = ? AND current = 1"),
                       {owner, classId, hash});
}

PreservedVersion ServiceStore::latestVersion(const QString &owner, int classId,
                                             const QString &hash) {
    return readVersion(QStringLiteral("owner = ? AND class_id = ? AND hash = ?"),
                       {owner, classId, hash});
}

PreservedVersion ServiceStore::versionByToken(const QString &owner, const QString &token) {
    return readVersion(QStringLiteral("owner = ? AND token = ?"), {owner, token});
}

PreservedVersion ServiceStore::versionByExhibitCode(const QString &code) {
    return readVersion(QStringLiteral("exhibit_code = ?"), {code});
}

QList<PreservedVersion> ServiceStore::documentHistory(qint64 documentId) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT id FROM versions WHERE document_id = ? ORDER BY id"));
    q.addBindValue(documentId);
    QList<PreservedVersion> history;
    if (!q.exec())
        return history;
    while (q.next())
        history.append(readVersion(QStringLiteral("id = ?"), {q.value(0)}));
    return history;
}

QMap<int, QString> ServiceStore::valuesOf(qint64 versionId) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT field_id, value FROM field_values WHERE version_id = ?"));
    q.addBindValue(versionId);
    QMap<int, QString> values;
    if (q.exec()) {
        while (q.next())
            values.insert(q.value(0).toInt(), q.value(1).toString());
    }
    return values;
}

bool ServiceStore::profileHasRoom(const QString &profileId, qint64 bytes) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT quota, used FROM profiles WHERE id = ?"));
    q.addBindValue(profileId);
    if (!q.exec() || !q.next())
        return false;
    const qint64 quota = q.value(0).toLongLong();
    return quota == 0 || q.value(1).toLongLong() + bytes <= quota;
}

// --- contents -----------------------------------------------------------------

QString ServiceStore::contentPath(const QString &hash) const {
    return QDir(m_dataDir).filePath(
        QStringLiteral("%1/%2/%3").arg(QLatin1String(kContentDir), hash.left(2), hash));
}

bool ServiceStore::storeContent(const QByteArray &content, const QString &hash) {
    if (hash.size() != 40 || fingerprint(content) != hash)
        return fail(QStringLiteral("content does not match %1").arg(hash));
    if (!writeContentFile(content, hash))
        return false;
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO contents (hash, size) VALUES (?, ?)"));
    q.addBindValue(hash);
    q.addBindValue(qint64(content.size()));
    return q.exec() || fail(q.lastError().text(), ErrorKind::Storage);
}

// Written under a temporary name and renamed, so a crash never leaves a
// truncated file under a fingerprint; contentFile() checks the size anyway.
bool ServiceStore::writeContentFile(const QByteArray &content, const QString &hash) {
    const QString path = contentPath(hash);
    if (QFile::exists(path))
        return true;
    const QString dir = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(dir))
        QDir().mkpath(dir);
    QFile file(path + QStringLiteral(".part"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size() || !file.flush()) {
        file.remove();
        return fail(QStringLiteral("cannot write %1").arg(path), ErrorKind::Storage);
    }
    file.close();
    return file.rename(path) ||
           fail(QStringLiteral("cannot write %1").arg(path), ErrorKind::Storage);
}

QString ServiceStore::contentFile(const QString &hash) {
    const QFileInfo file(contentPath(hash));
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT size FROM contents WHERE hash = ?"));
    q.addBindValue(hash);
    if (hash.size() != 40 || !q.exec() || !q.next() || !file.isFile()) {
        fail(QStringLiteral("no content %1").arg(hash), ErrorKind::NotFound);
        return QString();
    }
    // A damaged store must not hand out a truncated copy as the preserved one.
    if (file.size() != q.value(0).toLongLong()) {
        fail(QStringLiteral("content %1 is damaged").arg(hash), ErrorKind::Storage);
        return QString();
    }
    return file.filePath();
}

// --- uploads and versions -------------------------------------------------------

bool ServiceStore::recordUpload(const PendingUpload &upload) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral(
        "INSERT OR REPLACE INTO uploads (owner, class_id, hash, hash4k, file_name, size,"
        " last_modified, replaced_hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(upload.owner);
    q.addBindValue(upload.classId);
    q.addBindValue(upload.hash);
    q.addBindValue(upload.hash4k);
    q.addBindValue(upload.fileName);
    q.addBindValue(upload.size);
    q.addBindValue(upload.lastModified);
    q.addBindValue(upload.replacedHash);
    return q.exec() || fail(q.lastError().text(), ErrorKind::Storage);
}

PendingUpload ServiceStore::pendingUpload(const QString &owner, int classId, const QString &hash) {
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT hash4k, file_name, size, last_modified, replaced_hash"
                             " FROM uploads WHERE owner = ? AND class_id = ? AND hash = ?"));
    q.addBindValue(owner);
    q.addBindValue(classId);
    q.addBindValue(hash);
    PendingUpload upload;
    if (q.exec() && q.next()) {
        upload.owner = owner;
        upload.classId = classId;
        upload.hash = hash;
        upload.hash4k = q.value(0).toString();
        upload.fileName = q.value(1).toString();
        upload.size = q.value(2).toLongLong();
        upload.lastModified = q.value(3).toString();
        upload.replacedHash = q.value(4).toString();
    }
    return upload;
}

PreservedVersion ServiceStore::commitUpload(const PendingUpload &upload,
                                            const QMap<int, QString> &values,
                                            const QString &computerName) {
    QSqlDatabase db = database();
    const StoredClass cls = classOf(upload.owner, upload.classId);
    if (!cls.isValid()) {
        fail(QStringLiteral("no class %1").arg(upload.classId), ErrorKind::NotFound);
        return PreservedVersion();
    }
    PreservedVersion replaced;
    if (!upload.replacedHash.isEmpty()) {
        replaced = currentVersion(upload.owner, upload.classId, upload.replacedHash);
        if (!replaced.isValid()) {
            fail(QStringLiteral("no document %1").arg(upload.replacedHash), ErrorKind::NotFound);
            return PreservedVersion();
        }
    }
    // The same bytes twice in one class would be two documents the client
    // cannot tell apart; replacing a document by identical bytes is fine.
    const PreservedVersion existing = currentVersion(upload.owner, upload.classId, upload.hash);
    if (existing.isValid() && existing.id != replaced.id) {
        fail(QStringLiteral("already preserved"), ErrorKind::Duplicate);
        return PreservedVersion();
    }
    if (!profileHasRoom(cls.profileId, upload.size)) {
        fail(QStringLiteral("quota exceeded"), ErrorKind::Quota);
        return PreservedVersion();
    }
    QSqlQuery q(db);

    if (!db.transaction()) {
        fail(db.lastError().text(), ErrorKind::Storage);
        return PreservedVersion();
    }
    PreservedVersion v;
    v.owner = upload.owner;
    v.hash = upload.hash;
    v.hash4k = upload.hash4k;
    v.token = QStringLiteral("QL") + randomHex(16).toUpper();
    v.fileName = upload.fileName;
    v.size = upload.size;
    v.classId = upload.classId;
    v.profileId = cls.profileId;
    v.lastModified = upload.lastModified;
    v.tsconserve = QDateTime::currentDateTime().toString(QLatin1String(kStampFormat));
    v.tsupdate = reserveStamps(1);
    v.computerName = computerName;
    v.current = true;
    v.exhibitCode = randomHex(12);
    v.id = reserveCounter(QStringLiteral("version"), 1);
    v.documentId = replaced.isValid() ? replaced.documentId : v.id;

    bool ok = v.id > 0 && v.tsupdate > 0;
    if (ok && replaced.isValid()) {
        q.prepare(QStringLiteral("UPDATE versions SET current = 0 WHERE id = ?"));
        q.addBindValue(replaced.id);
        ok = q.exec();
    }
    if (ok) {
        q.prepare(QStringLiteral("INSERT INTO versions (%1) VALUES"
                                 " (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(QLatin1String(kVersionColumns)));
        for (const QVariant &value :
             QVariantList{v.id, v.documentId, v.owner, v.hash, v.hash4k, v.token, v.fileName,
                          v.size, v.classId, v.profileId, v.lastModified, v.tsconserve, v.tsupdate,
                          v.computerName, 1, v.exhibitCode})
            q.addBindValue(value);
        ok = q.exec();
    }
    if (ok) {
        q.prepare(QStringLiteral(
            "INSERT INTO field_values (version_id, field_id, value) VALUES (?, ?, ?)"));
        for (auto it = values.cbegin(); ok && it != values.cend(); ++it) {
            q.addBindValue(v.id);
            q.addBindValue(it.key());
            q.addBindValue(it.value());
            ok = q.exec();
        }
    }
    if (ok) {
        q.prepare(QStringLiteral("UPDATE profiles SET used = used + ? WHERE id = ?"));
        q.addBindValue(v.size);
        q.addBindValue(cls.profileId);
        ok = q.exec();
    }
    if (ok) {
        q.prepare(
            QStringLiteral("DELETE FROM uploads WHERE owner = ? AND class_id = ? AND hash = ?"));
        q.addBindValue(upload.owner);
        q.addBindValue(upload.classId);
        q.addBindValue(upload.hash);
        ok = q.exec();
    }
    if (!ok || !db.commit()) {
        fail(q.lastError().text(), ErrorKind::Storage);
        db.rollback();
        return PreservedVersion();
    }
    m_lastErrorKind = ErrorKind::None;
    return v;
}

// --- large accounts ------------------------------------------------------------

bool GeneratorPlan::fromString(const QString &text, GeneratorPlan *plan, QString *error) {
    const QStringList parts = text.split(QLatin1Char(':'));
    auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (parts.size() != 6)
        return failed(QStringLiteral("expected USER:PASSWORD:DOCS:VALUES_PER_DOC:CLASSES:"
                                     "FIELDS_PER_CLASS"));
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts.at(i + 2).toInt(&ok);
        if (!ok || numbers[i] < 0)
            return failed(QStringLiteral("not a count: %1").arg(parts.at(i + 2)));
    }
    plan->user = parts.at(0);
    plan->password = parts.at(1);
    plan->documents = numbers[0];
    plan->valuesPerDocument = numbers[1];
    plan->classes = numbers[2];
    plan->fieldsPerClass = numbers[3];
    return true;
}

bool ServiceStore::generate(const GeneratorPlan &plan, QString *error) {
    auto failed = [this, error](const QString &why) {
        fail(why);
        if (error)
            *error = why;
        return false;
    };
    if (plan.classes < 1 || plan.fieldsPerClass < 1)
        return failed(QStringLiteral("at least one class with one field is needed"));
    if (plan.valuesPerDocument > plan.fieldsPerClass)
        return failed(QStringLiteral("VALUES_PER_DOC cannot exceed FIELDS_PER_CLASS"));
    if (plan.documents < 0 || plan.valuesPerDocument < 0)
        return failed(QStringLiteral("counts must not be negative"));

    QSqlDatabase db = database();
    if (!db.transaction())
        return failed(db.lastError().text());
    auto rollback = [&](const QString &why) {
        db.rollback();
        return failed(why);
    };
    if (!createUser(plan.user, plan.password))
        return rollback(m_lastError);
    const QString profileId = addProfile(plan.user, QStringLiteral("Archivio generato"), 0,
                                         QStringLiteral("MB"), 1000000);
    if (profileId.isEmpty())
        return rollback(m_lastError);

    const QStringList groupNames = {QStringLiteral("Amministrazione"), QStringLiteral("Fatture"),
                                    QStringLiteral("Fatture passive"), QStringLiteral("Personale"),
                                    QStringLiteral("Contratti")};
    QList<int> classIds;
    QList<QList<StoredField>> classFields;
    for (int c = 0; c < plan.classes; ++c) {
        const int classId = addClass(profileId, QStringLiteral("Classe generata %1").arg(c + 1),
                                     groupNames.at(c % groupNames.size()));
        if (classId == 0)
            return rollback(m_lastError);
        QList<StoredField> fields;
        for (int f = 0; f < plan.fieldsPerClass; ++f) {
            StoredField field;
            field.type = FieldType::Text + f % 3;
            field.name = QStringLiteral("Indice %1").arg(f + 1);
            field.required = f == 0;
            field.id = addField(classId, field.name, field.type, field.required,
                                QStringLiteral("Indice generato n. %1").arg(f + 1));
            if (field.id == 0)
                return rollback(m_lastError);
            fields.append(field);
        }
        classIds.append(classId);
        classFields.append(fields);
    }

    const qint64 firstId = reserveCounter(QStringLiteral("version"), qMax(1, plan.documents));
    const double firstStamp = reserveStamps(qMax(1, plan.documents));
    if (firstId == 0 || firstStamp <= 0)
        return rollback(QStringLiteral("cannot reserve ids"));

    BatchInsert contents(db, QStringLiteral("INSERT OR IGNORE INTO contents (hash, size)"), 2, 400);
    BatchInsert versions(
        db, QStringLiteral("INSERT INTO versions (%1)").arg(QLatin1String(kVersionColumns)), 16,
        50);
    BatchInsert values(db, QStringLiteral("INSERT INTO field_values (version_id, field_id, value)"),
                       3, 300);

    // Seeded once from the system: as unguessable, without a system call
    // per document.
    QRandomGenerator random = QRandomGenerator::securelySeeded();
    const QDateTime now = QDateTime::currentDateTime();
    const QString tsconserve = now.toString(QLatin1String(kStampFormat));
    // Local time read as UTC: the same wall-clock texts without a time zone
    // lookup per document.
    const QDateTime clock(now.date(), now.time(), Qt::UTC);
    QStringList dates;
    for (int d = 0; d < 3650; ++d)
        dates.append(QDate(2013, 1, 1).addDays(d).toString(QStringLiteral("dd/MM/yyyy")));
    qint64 totalSize = 0;
    for (int i = 0; i < plan.documents; ++i) {
        const QByteArray bytes =
            QStringLiteral("Documento generato n. %1 di %2\n").arg(i + 1).arg(plan.user).toUtf8();
        const QString hash = fingerprint(bytes);
        if (!writeContentFile(bytes, hash))
            return rollback(m_lastError);
        if (!contents.add({hash, qint64(bytes.size())}))
            return rollback(contents.error());
        const qint64 id = firstId + i;
        const int classIndex = i % plan.classes;
        if (!versions.add({id, id, plan.user, hash, headFingerprint(bytes),
                           QStringLiteral("QG%1").arg(id, 12, 10, QLatin1Char('0')),
                           QStringLiteral("C:\\Archivio\\Generati\\documento_%1.txt")
                               .arg(i + 1, 6, 10, QLatin1Char('0')),
                           qint64(bytes.size()), classIds.at(classIndex), profileId,
                           clock.addSecs(-i).toString(Qt::ISODate).left(19), tsconserve,
                           std::round((firstStamp + i * 0.001) * 1000.0) / 1000.0,
                           QStringLiteral("PC-GENERATORE"), 1, randomHex(12, &random)}))
            return rollback(versions.error());
        const QList<StoredField> &fields = classFields.at(classIndex);
        for (int f = 0; f < plan.valuesPerDocument; ++f) {
            QString text;
            switch (fields.at(f).type) {
            case FieldType::Number:
                text = QString::number(1000 + i);
                break;
            case FieldType::Date:
                text = dates.at(i % dates.size());
                break;
            default:
                text = QStringLiteral("Valore %1 del documento %2").arg(f + 1).arg(i + 1);
            }
            if (!values.add({id, fields.at(f).id, text}))
                return rollback(values.error());
        }
        totalSize += bytes.size();
    }
    if (!contents.flush() || !versions.flush() || !values.flush())
        return rollback(contents.error() + versions.error() + values.error());
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE profiles SET used = ? WHERE id = ?"));
    q.addBindValue(totalSize);
    q.addBindValue(profileId);
    if (!q.exec())
        return rollback(q.lastError().text());
    if (!db.commit())
        return rollback(db.lastError().text());
    return true;
}
