#include "ServiceActions.h"

#include "MultipartParser.h"
#include "ServiceStatus.h"
#include "ServiceStore.h"
#include "SyncBodyWriter.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QSet>

namespace {
// Reads the request's elements; the first missing or malformed one is
// remembered and becomes the "2" refusal.
class Inputs {
public:
    explicit Inputs(const QDomElement &root)
        : m_root(root) {}

    QString text(const QString &name) {
        const QDomElement e = m_root.firstChildElement(name);
        if (e.isNull())
            reject(QStringLiteral("Elemento %1 mancante nella richiesta").arg(name));
        return e.text();
    }

    bool has(const QString &name) const { return !m_root.firstChildElement(name).isNull(); }

    int number(const QString &name) {
        const QString value = text(name);
        bool ok = false;
        const int n = value.trimmed().toInt(&ok, 10);
        if (m_error.isEmpty() && !ok)
            reject(QStringLiteral("Valore non valido per %1: \"%2\"").arg(name, value));
        return n;
    }

    double stamp(const QString &name) {
        const QString value = text(name);
        bool ok = false;
        const double n = value.trimmed().toDouble(&ok);
        if (m_error.isEmpty() && !ok)
            reject(QStringLiteral("Valore non valido per %1: \"%2\"").arg(name, value));
        return n;
    }

    QString fingerprint(const QString &name) {
        static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{40}$"));
        const QString value = text(name);
        if (m_error.isEmpty() && !hex.match(value).hasMatch())
            reject(QStringLiteral("Impronta non valida in %1: \"%2\"").arg(name, value));
        return value;
    }

    void reject(const QString &why) {
        if (m_error.isEmpty())
            m_error = why;
    }
    bool ok() const { return m_error.isEmpty(); }
    ServiceReply refusal() const {
        return ReplyWriter::failure(ServiceStatus::BadRequest, m_error);
    }

private:
    QDomElement m_root;
    QString m_error;
};

ServiceReply storeFailure(const ServiceStore &store) {
    switch (store.lastErrorKind()) {
    case ServiceStore::ErrorKind::Quota:
        return ReplyWriter::failure(ServiceStatus::QuotaExceeded,
                                    QStringLiteral("Spazio insufficiente nel profilo"));
    case ServiceStore::ErrorKind::Duplicate:
        return ReplyWriter::failure(
            ServiceStatus::AlreadyPreserved,
            QStringLiteral("Il documento è già conservato in questa classe"));
    case ServiceStore::ErrorKind::NotFound:
        return ReplyWriter::failure(ServiceStatus::UnknownDocument,
                                    QStringLiteral("Documento non trovato"));
    default:
        return ServiceActions::internalError();
    }
}

ServiceReply unknownClass(int classId) {
    return ReplyWriter::failure(ServiceStatus::UnknownClass,
                                QStringLiteral("Classe documentale %1 non trovata").arg(classId));
}

ServiceReply unknownDocument() {
    return ReplyWriter::failure(ServiceStatus::UnknownDocument,
                                QStringLiteral("Documento non trovato"));
}

// The message for a value that does not suit its field, or an empty text.
QString fieldProblem(const StoredField &field, const QString &value) {
    static const QRegularExpression numeric(QStringLiteral("^[+-]?[0-9]+([.,][0-9]+)?$"));
    const QString trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return field.required ? QStringLiteral("Il campo \"%1\" è obbligatorio").arg(field.name)
                              : QString();
    if (field.type == FieldType::Number && !numeric.match(trimmed).hasMatch())
        return QStringLiteral("Il campo \"%1\" deve contenere un numero").arg(field.name);
    if (field.type == FieldType::Date &&
        (trimmed.size() != 10 ||
         !QDate::fromString(trimmed, QStringLiteral("dd/MM/yyyy")).isValid()))
        return QStringLiteral("Il campo \"%1\" deve contenere una data nel formato gg/mm/aaaa")
            .arg(field.name);
    return QString();
}
} // namespace

ServiceActions::ServiceActions(ServiceStore &store)
    : m_store(store) {}

ServiceReply ServiceActions::handle(const ActionRequest &request) {
    const QString &a = request.action;
    if (a == QLatin1String("login"))
        return login(request);
    if (a == QLatin1String("syncfolder"))
        return syncFolder(request);
    if (a == QLatin1String("uploadfile") || a == QLatin1String("sostituiscifile"))
        return upload(request, a == QLatin1String("sostituiscifile"));
    if (a == QLatin1String("savevaluemetadati") || a == QLatin1String("sostituiscivaluemetadati"))
        return saveValues(request, a == QLatin1String("sostituiscivaluemetadati"));
    if (a == QLatin1String("history"))
        return history(request);
    if (a == QLatin1String("getexhibitorconfig"))
        return exhibitorConfig(request);
    if (a == QLatin1String("ripristina"))
        return restore(request);
    if (a == QLatin1String("changePWD"))
        return changePassword(request);
    return ReplyWriter::failure(ServiceStatus::UnknownAction,
                                QStringLiteral("Azione \"%1\" non riconosciuta").arg(a));
}

ServiceReply ServiceActions::internalError() {
    return ReplyWriter::failure(
        ServiceStatus::StorageError,
        QStringLiteral("Errore interno del servizio di conservazione, riprovare più tardi"));
}

ServiceReply ServiceActions::updateRequired(const QString &description) {
    return ReplyWriter::failure(ServiceStatus::UpdateRequired, description);
}

ServiceReply ServiceActions::login(const ActionRequest &request) {
    Inputs in(request.root);
    const QString user = in.text(QStringLiteral("username"));
    const QString password = in.text(QStringLiteral("password"));
    const double codesync = in.stamp(QStringLiteral("codesync"));
    const QString versionText = in.text(QStringLiteral("version")).trimmed();
    const QString platform = in.text(QStringLiteral("platform")).trimmed();
    if (in.has(QStringLiteral("forceLogin"))) {
        const QString force = in.text(QStringLiteral("forceLogin"));
        if (force != QLatin1String("0") && force != QLatin1String("1"))
            in.reject(QStringLiteral("Valore non valido per forceLogin: \"%1\"").arg(force));
    }
    qsizetype suffix = 0;
    const QVersionNumber version = QVersionNumber::fromString(versionText, &suffix);
    if (version.isNull() || suffix != versionText.size())
        in.reject(QStringLiteral("Versione del client non valida: \"%1\"").arg(versionText));
    if (platform.isEmpty())
        in.reject(QStringLiteral("Piattaforma del client non indicata"));
    if (!in.ok())
        return in.refusal();

    if (!m_minimumVersion.isNull() && version < m_minimumVersion)
        return updateRequired(
            QStringLiteral("La versione %1 dell'applicazione non è più supportata. È necessario "
                           "installare la versione %2 o successiva per continuare.")
                .arg(version.toString(), m_minimumVersion.toString()));
    if (user.isEmpty() || !m_store.checkPassword(user, password))
        return ReplyWriter::failure(ServiceStatus::LoginKo,
                                    QStringLiteral("Nome utente o password non corretti"));

    ServiceReply reply = ReplyWriter::streamed(
        ServiceStatus::LoginOk, QStringLiteral("Accesso eseguito"),
        [this, user, codesync](QXmlStreamWriter &xml) {
            return SyncBodyWriter::write(m_store, xml, user, codesync);
        });
    reply.signedInUser = user;
    return reply;
}

ServiceReply ServiceActions::syncFolder(const ActionRequest &request) {
    Inputs in(request.root);
    const double codesync = in.stamp(QStringLiteral("codesync"));
    if (!in.ok())
        return in.refusal();
    const QString user = request.user;
    return ReplyWriter::streamed(ServiceStatus::SyncFolderOk,
                                 QStringLiteral("Sincronizzazione eseguita"),
                                 [this, user, codesync](QXmlStreamWriter &xml) {
                                     return SyncBodyWriter::write(m_store, xml, user, codesync);
                                 });
}

ServiceReply ServiceActions::upload(const ActionRequest &request, bool replace) {
    Inputs in(request.root);
    const int classId = in.number(QStringLiteral("idfolder"));
    const QString lastModifiedText = in.text(QStringLiteral("last_modified")).trimmed();
    const QString hash = in.fingerprint(QStringLiteral("hashfile"));
    const QString replacedHash = replace ? in.fingerprint(QStringLiteral("hash")) : QString();
    const QDateTime lastModified =
        QDateTime::fromString(lastModifiedText, QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    if (!lastModified.isValid())
        in.reject(
            QStringLiteral("Data di ultima modifica non valida: \"%1\"").arg(lastModifiedText));
    if (!request.file)
        in.reject(QStringLiteral("File mancante nella richiesta"));
    else if (request.file->name.trimmed().isEmpty())
        in.reject(QStringLiteral("Nome del file mancante nella richiesta"));
    if (!in.ok())
        return in.refusal();

    const StoredClass cls = m_store.classOf(request.user, classId);
    if (!cls.isValid())
        return unknownClass(classId);
    const QByteArray &content = request.file->body;
    if (ServiceStore::fingerprint(content) != hash)
        return ReplyWriter::failure(
            ServiceStatus::FingerprintMismatch,
            QStringLiteral("L'impronta del file ricevuto non corrisponde a quella dichiarata"));

    PreservedVersion replaced;
    if (replace) {
        replaced = m_store.currentVersion(request.user, classId, replacedHash);
        if (!replaced.isValid())
            return ReplyWriter::failure(ServiceStatus::UnknownDocument,
                                        QStringLiteral("Documento da rettificare non trovato"));
    }
    const PreservedVersion existing = m_store.currentVersion(request.user, classId, hash);
    if (existing.isValid() && existing.id != replaced.id)
        return ReplyWriter::failure(
            ServiceStatus::AlreadyPreserved,
            QStringLiteral("Il documento è già conservato nella classe %1").arg(cls.name));
    if (!m_store.profileHasRoom(cls.profileId, content.size()))
        return ReplyWriter::failure(ServiceStatus::QuotaExceeded,
                                    QStringLiteral("Spazio insufficiente nel profilo"));

    PendingUpload pending;
    pending.owner = request.user;
    pending.classId = classId;
    pending.hash = hash;
    pending.hash4k = ServiceStore::headFingerprint(content);
    pending.fileName = request.file->name;
    pending.size = content.size();
    pending.lastModified = lastModified.toString(Qt::ISODate);
    pending.replacedHash = replacedHash;
    if (!m_store.storeContent(content, hash) || !m_store.recordUpload(pending))
        return storeFailure(m_store);

    // A correction starts from the values of the document it replaces.
    const QMap<int, QString> previous =
        replaced.isValid() ? m_store.valuesOf(replaced.id) : QMap<int, QString>();
    ReplyWriter writer(ServiceStatus::FileReceived, QStringLiteral("File ricevuto"));
    QXmlStreamWriter &xml = writer.xml();
    for (const StoredField &field : m_store.fieldsOf(classId)) {
        xml.writeStartElement(QStringLiteral("metadato"));
        xml.writeAttribute(QStringLiteral("idmetadato"), QString::number(field.id));
        xml.writeAttribute(QStringLiteral("idfolder"), QString::number(classId));
        xml.writeAttribute(QStringLiteral("name"), field.name);
        xml.writeAttribute(QStringLiteral("type"), QString::number(field.type));
        xml.writeAttribute(QStringLiteral("required"),
                           field.required ? QStringLiteral("1") : QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("visible"),
                           field.visible ? QStringLiteral("1") : QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("tooltip"), field.tooltip);
        xml.writeCharacters(previous.value(field.id, field.initialValue));
        xml.writeEndElement();
    }
    return writer.finish();
}

ServiceReply ServiceActions::saveValues(const ActionRequest &request, bool replace) {
    Inputs in(request.root);
    const QString hash = in.fingerprint(QStringLiteral("hash"));
    const QString previousHash =
        replace ? in.fingerprint(QStringLiteral("hashprecedente")) : QString();
    const int classId = in.number(QStringLiteral("folderid"));
    const QString computerName = in.text(QStringLiteral("computername")).trimmed();
    if (!in.ok())
        return in.refusal();

    // Keys as sent, in order; a key that is not a number stays as text so
    // the refusal can name it.
    QList<QPair<QString, QString>> sent;
    for (QDomElement e = request.root.firstChildElement(QStringLiteral("metadato")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("metadato"))) {
        if (!e.hasAttribute(QStringLiteral("key")) || !e.hasAttribute(QStringLiteral("value")))
            return ReplyWriter::failure(
                ServiceStatus::BadRequest,
                QStringLiteral("Elemento metadato senza attributo key o value"));
        sent.append({e.attribute(QStringLiteral("key")), e.attribute(QStringLiteral("value"))});
    }

    const StoredClass cls = m_store.classOf(request.user, classId);
    if (!cls.isValid())
        return unknownClass(classId);
    const PendingUpload upload = m_store.pendingUpload(request.user, classId, hash);
    if (!upload.isValid())
        return ReplyWriter::failure(
            ServiceStatus::NoUpload,
            QStringLiteral("Nessun file caricato per questo documento: ripetere l'invio del file"));
    if (upload.replacedHash != previousHash)
        return ReplyWriter::failure(
            ServiceStatus::NoUpload,
            replace
                ? QStringLiteral("Il file caricato non è una rettifica di questo documento")
                : QStringLiteral("Il file caricato è una rettifica: usare l'azione di rettifica"));

    const QList<StoredField> fields = m_store.fieldsOf(classId);
    QMap<QString, QString> problems; // key -> message, in key order
    QMap<int, QString> values;
    QSet<QString> seen;
    for (const auto &entry : sent) {
        const QString &key = entry.first;
        auto field = std::find_if(fields.cbegin(), fields.cend(), [&key](const StoredField &f) {
            return QString::number(f.id) == key;
        });
        if (seen.contains(key)) {
            problems.insert(key, QStringLiteral("Indice inviato più volte"));
            continue;
        }
        seen.insert(key);
        if (field == fields.cend()) {
            problems.insert(key,
                            QStringLiteral("Indice non previsto per la classe %1").arg(cls.name));
            continue;
        }
        const QString problem = fieldProblem(*field, entry.second);
        if (!problem.isEmpty())
            problems.insert(key, problem);
        else if (!entry.second.trimmed().isEmpty())
            values.insert(field->id, entry.second.trimmed());
    }
    for (const StoredField &field : fields) {
        const QString key = QString::number(field.id);
        if (field.required && !seen.contains(key))
            problems.insert(key, QStringLiteral("Il campo \"%1\" è obbligatorio").arg(field.name));
    }
    if (!problems.isEmpty()) {
        ReplyWriter writer(ServiceStatus::ValidationKo,
                           QStringLiteral("La validazione degli indici non è riuscita"));
        QXmlStreamWriter &xml = writer.xml();
        xml.writeStartElement(QStringLiteral("validation"));
        for (auto it = problems.cbegin(); it != problems.cend(); ++it) {
            xml.writeEmptyElement(QStringLiteral("field"));
            xml.writeAttribute(QStringLiteral("key"), it.key());
            xml.writeAttribute(QStringLiteral("message"), it.value());
        }
        xml.writeEndElement();
        return writer.finish(500);
    }

    const PreservedVersion version = m_store.commitUpload(upload, values, computerName);
    if (!version.isValid())
        return storeFailure(m_store);
    ReplyWriter writer(ServiceStatus::Preserved,
                       replace ? QStringLiteral("Documento rettificato correttamente")
                               : QStringLiteral("Documento conservato correttamente"));
    QXmlStreamWriter &xml = writer.xml();
    xml.writeTextElement(QStringLiteral("token"), version.token);
    xml.writeTextElement(QStringLiteral("hash"), version.hash);
    xml.writeTextElement(QStringLiteral("tsconserve"), version.tsconserve);
    xml.writeTextElement(QStringLiteral("tsupdate"), QString::number(version.tsupdate, 'f', 3));
    return writer.finish();
}

PreservedVersion ServiceActions::namedVersion(const ActionRequest &request, ServiceReply *refusal) {
    Inputs in(request.root);
    const QString hash = in.fingerprint(QStringLiteral("hash"));
    const int classId = in.number(QStringLiteral("folderid"));
    if (!in.ok()) {
        *refusal = in.refusal();
        return {};
    }
    if (!m_store.classOf(request.user, classId).isValid()) {
        *refusal = unknownClass(classId);
        return {};
    }
    const PreservedVersion version = m_store.latestVersion(request.user, classId, hash);
    if (!version.isValid())
        *refusal = unknownDocument();
    return version;
}

ServiceReply ServiceActions::history(const ActionRequest &request) {
    ServiceReply refusal;
    const PreservedVersion version = namedVersion(request, &refusal);
    if (!version.isValid())
        return refusal;
    ReplyWriter writer(ServiceStatus::HistoryOk, QStringLiteral("Storia del documento"));
    QXmlStreamWriter &xml = writer.xml();
    for (const PreservedVersion &v : m_store.documentHistory(version.documentId)) {
        xml.writeEmptyElement(QStringLiteral("file"));
        xml.writeAttribute(QStringLiteral("hash"), v.hash);
        xml.writeAttribute(QStringLiteral("token"), v.token);
        xml.writeAttribute(QStringLiteral("filename"), v.fileName);
        xml.writeAttribute(QStringLiteral("filesize"), QString::number(v.size));
        xml.writeAttribute(QStringLiteral("tsfiles"), v.tsconserve);
        xml.writeAttribute(QStringLiteral("idfolders"), QString::number(v.classId));
    }
    return writer.finish();
}

ServiceReply ServiceActions::exhibitorConfig(const ActionRequest &request) {
    Inputs in(request.root);
    const QString token = in.text(QStringLiteral("token")).trimmed();
    if (in.ok() && token.isEmpty())
        in.reject(QStringLiteral("Token mancante nella richiesta"));
    if (!in.ok())
        return in.refusal();
    const PreservedVersion version = m_store.versionByToken(request.user, token);
    if (!version.isValid())
        return unknownDocument();
    ReplyWriter writer(ServiceStatus::ExhibitorOk, QStringLiteral("Configurazione esibizione"));
    QXmlStreamWriter &xml = writer.xml();
    xml.writeStartElement(QStringLiteral("exhibitor"));
    xml.writeEmptyElement(QStringLiteral("unique_code"));
    xml.writeAttribute(QStringLiteral("value"), version.exhibitCode);
    xml.writeEndElement();
    return writer.finish();
}

ServiceReply ServiceActions::restore(const ActionRequest &request) {
    ServiceReply refusal;
    const PreservedVersion version = namedVersion(request, &refusal);
    if (!version.isValid())
        return refusal;
    ServiceReply reply;
    reply.filePath = m_store.contentFile(version.hash);
    if (reply.filePath.isEmpty())
        return storeFailure(m_store);
    reply.contentType = QByteArrayLiteral("application/octet-stream");
    return reply;
}

ServiceReply ServiceActions::changePassword(const ActionRequest &request) {
    Inputs in(request.root);
    const QString newPassword = in.text(QStringLiteral("newpwd"));
    const QString confirm = in.text(QStringLiteral("confirmpwd"));
    const QString oldPassword = in.text(QStringLiteral("oldpwd"));
    if (!in.ok())
        return in.refusal();
    auto refuse = [](const QString &why) {
        return ReplyWriter::failure(ServiceStatus::ChangePwdKo, why);
    };
    if (!m_store.checkPassword(request.user, oldPassword))
        return refuse(QStringLiteral("La vecchia password non è corretta"));
    if (newPassword.isEmpty())
        return refuse(QStringLiteral("La nuova password non può essere vuota"));
    if (newPassword != confirm)
        return refuse(QStringLiteral("La nuova password e la conferma non corrispondono"));
    if (!m_store.setPassword(request.user, newPassword))
        return storeFailure(m_store);
    ReplyWriter writer(ServiceStatus::ChangePwdOk, QStringLiteral("Password modificata"));
    return writer.finish();
}
