#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

// Field types as the client understands them.
namespace FieldType {
constexpr int Text = 1;
constexpr int Number = 2;
constexpr int Date = 3;
} // namespace FieldType

// One preserved version of a document, as the service records it.
struct PreservedVersion
{
    qint64 id = 0;         // row id of the version
    qint64 documentId = 0; // every version of one document shares it
    QString owner;
    QString hash;   // SHA-1 of the whole content, 40 lower-case hex digits
    QString hash4k; // SHA-1 of the first 4096 bytes; empty for empty content
    QString token;  // preservation token, unique
    QString fileName; // the client's full path of the file
    qint64 size = 0;
    int classId = 0;
    QString profileId;
    QString lastModified; // as sent by the client, "dd/MM/yyyy hh:mm:ss"
    QString tsconserve;   // "dd/MM/yyyy hh:mm:ss"
    double tsupdate = 0;  // strictly increasing over the whole service
    QString computerName;
    bool current = true; // false once a later version replaced it

    bool isValid() const { return id > 0; }
};

// Shape of a generated large account (see ServiceStore::generate).
struct GeneratorSpec
{
    QString user;
    QString password;
    int documents = 0;
    int valuesPerDocument = 0; // at most fieldsPerClass
    int classes = 1;
    int fieldsPerClass = 1;

    // Parses "USER:PASSWORD:DOCS:VALUES_PER_DOC:CLASSES:FIELDS_PER_CLASS".
    static bool fromString(const QString &text, GeneratorSpec *spec, QString *error);
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
class ServiceStore
{
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

    // Creates `spec.user` with one profile, spec.classes classes of
    // spec.fieldsPerClass fields and spec.documents preserved documents with
    // spec.valuesPerDocument values each, in one transaction.
    bool generate(const GeneratorSpec &spec, QString *error);

    QSqlDatabase database() const;

private:
    bool createSchema();
    bool fail(const QString &message);

    QString m_connectionName;
    QString m_dataDir;
    QString m_lastError;
    bool m_created = false;
};
