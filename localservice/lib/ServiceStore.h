#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

// Field types as the client understands them.
namespace FieldType {
constexpr int Text = 1;
constexpr int Number = 2;
constexpr int Date = 3;
} // namespace FieldType

// One preserved version of a document, as the service records it.
struct PreservedVersion {
    qint64 id = 0;         // row id of the version
    qint64 documentId = 0; // every version of one document shares it
    QString owner;
    QString hash;     // SHA-1 of the whole content, 40 lower-case hex digits
    QString hash4k;   // SHA-1 of the first 4096 bytes; empty for empty content
    QString token;    // preservation token, unique
    QString fileName; // the client's full path of the file
    qint64 size = 0;
    int classId = 0;
    QString profileId;
    QString lastModified; // ISO 8601 local time (the client's own form)
    QString tsconserve;   // "dd/MM/yyyy hh:mm:ss"
    double tsupdate = 0;  // strictly increasing over the whole service
    QString computerName;
    bool current = true; // false once a later version replaced it
    QString exhibitCode; // unique code of its exhibition page

    bool isValid() const { return id > 0; }
};

struct StoredClass {
    int id = 0;
    QString profileId;
    QString owner;
    QString name;
    QString groups;
    QString policyId;
    int custom = 0;
    bool isValid() const { return id > 0; }
};

struct StoredField {
    int id = 0;
    int classId = 0;
    QString name;
    int type = FieldType::Text;
    bool required = false;
    bool visible = true;
    int custom = 0;
    QString tooltip;
    QString initialValue;
};

// A file received by uploadfile / sostituiscifile, waiting for its values.
struct PendingUpload {
    QString owner;
    int classId = 0;
    QString hash;
    QString hash4k;
    QString fileName;
    qint64 size = 0;
    QString lastModified; // ISO 8601, local time
    QString replacedHash; // empty for a new document
    bool isValid() const { return classId > 0 && !hash.isEmpty(); }
};

// Shape of a generated large account (see ServiceStore::generate).
struct GeneratorPlan {
    QString user;
    QString password;
    int documents = 0;
    int valuesPerDocument = 0; // at most fieldsPerClass
    int classes = 1;
    int fieldsPerClass = 1;

    // Parses "USER:PASSWORD:DOCS:VALUES_PER_DOC:CLASSES:FIELDS_PER_CLASS".
    static bool fromString(const QString &text, GeneratorPlan *plan, QString *error);
};

// The service's persistent state: one SQLite file plus stored contents named
// by their fingerprint, both under the data directory. Uses a database
// connection of its own, so it can live beside the client's connection in
// one process.
//
// The building calls below (users, profiles, policies, classes, fields,
// preserved documents) are what the demo seed, the generator and tests use
// to set up accounts; they check their inputs and return 0 / an empty
// text / an invalid version on failure, with the reason in lastError().
class ServiceStore {
public:
    ServiceStore();
    ~ServiceStore();
    ServiceStore(const ServiceStore &) = delete;
    ServiceStore &operator=(const ServiceStore &) = delete;

    // Opens (creating when missing) the database and content directory under
    // `dataDir`. wasCreated() tells whether the database was new.
    bool open(const QString &dataDir, QString *error);
    void close();
    bool isOpen() const;
    bool wasCreated() const { return m_created; }
    QString dataDir() const { return m_dataDir; }
    QString lastError() const { return m_lastError; }

    // --- accounts -------------------------------------------------------
    bool createUser(const QString &name, const QString &password);
    bool userExists(const QString &name);
    bool checkPassword(const QString &name, const QString &password);
    bool setPassword(const QString &name, const QString &password);

    // A profile ("bucket") of `owner`. Amounts are in bytes; `unit` and `div`
    // tell the client how to show them (used / div in unit). Returns its id.
    QString addProfile(const QString &owner, const QString &description, qint64 quotaBytes,
                       const QString &unit = QStringLiteral("MB"), qint64 div = 1000000);
    QString addPolicy(const QString &profileId, const QString &description);
    // A class of a profile; `groups` is the group text the client filters on.
    int addClass(const QString &profileId, const QString &name, const QString &groups,
                 const QString &policyId = QString());
    // A field of a class; ids are unique over the whole service.
    int addField(int classId, const QString &name, int type, bool required,
                 const QString &tooltip = QString(), const QString &initialValue = QString());

    // Preserves `content` as a new document of `owner` in `classId` with the
    // given field values (key = field id), or, when `replacedHash` names a
    // current document of that class, as its next version. Runs the same
    // checks as the service (class of the owner, quota, known field keys) but
    // no value validation, so tests may plant odd data.
    PreservedVersion preserve(const QString &owner, int classId, const QString &fileName,
                              const QByteArray &content, const QMap<int, QString> &values,
                              const QString &replacedHash = QString(),
                              const QString &computerName = QStringLiteral("PC-UFFICIO"));

    // Creates `plan.user` with one profile, plan.classes classes of
    // plan.fieldsPerClass fields and plan.documents preserved documents with
    // plan.valuesPerDocument values each, in one transaction.
    bool generate(const GeneratorPlan &plan, QString *error);

    // --- what the actions need -----------------------------------------------
    enum class ErrorKind { None, Invalid, NotFound, Quota, Duplicate, Storage };
    ErrorKind lastErrorKind() const { return m_lastErrorKind; }

    // The class `classId` when it belongs to a profile of `owner`.
    StoredClass classOf(const QString &owner, int classId);
    QList<StoredField> fieldsOf(int classId);
    // The current version of `hash` in `classId` of `owner`.
    PreservedVersion currentVersion(const QString &owner, int classId, const QString &hash);
    // The newest version, current or not, of `hash` in `classId` of `owner`.
    PreservedVersion latestVersion(const QString &owner, int classId, const QString &hash);
    PreservedVersion versionByToken(const QString &owner, const QString &token);
    PreservedVersion versionByExhibitCode(const QString &code);
    // Every version of a document, oldest first.
    QList<PreservedVersion> documentHistory(qint64 documentId);
    QMap<int, QString> valuesOf(qint64 versionId);
    // False when adding `bytes` would pass the profile's quota (0 = none).
    bool profileHasRoom(const QString &profileId, qint64 bytes);

    // Contents, stored once per fingerprint under the data directory.
    bool storeContent(const QByteArray &content, const QString &hash);
    // The file holding the content of `hash`, checked against the size it
    // was stored with; empty on failure. Its bytes are not read here: a
    // restore streams them, and the client checks them against the hash.
    QString contentFile(const QString &hash);

    bool recordUpload(const PendingUpload &upload);
    PendingUpload pendingUpload(const QString &owner, int classId, const QString &hash);
    // Turns a pending upload into a preserved version with `values`: checks
    // the quota, replaces the document named by upload.replacedHash when set,
    // charges the profile and forgets the upload. Invalid on failure.
    PreservedVersion commitUpload(const PendingUpload &upload, const QMap<int, QString> &values,
                                  const QString &computerName);

    QSqlDatabase database() const;

    // SHA-1 of `content` and of its first 4096 bytes (empty for no bytes),
    // as 40 lower-case hex digits.
    static QString fingerprint(const QByteArray &content);
    static QString headFingerprint(const QByteArray &content);

private:
    bool createSchema();
    bool fail(const QString &message, ErrorKind kind = ErrorKind::Invalid);
    PreservedVersion readVersion(const QString &where, const QVariantList &bindings);
    qint64 reserveCounter(const QString &name, qint64 count);
    double reserveStamps(int count);
    QString contentPath(const QString &hash) const;
    bool writeContentFile(const QByteArray &content, const QString &hash);

    QString m_connectionName;
    QString m_dataDir;
    QString m_lastError;
    bool m_created = false;
    ErrorKind m_lastErrorKind = ErrorKind::None;
};
