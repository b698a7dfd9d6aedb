#include "ServiceFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QtGlobal>

namespace {
const char kUrlVariable[] = "QUILLORA_SERVICE_URL";
// Taken before any test home moves TMPDIR: the certificates must outlive
// every home, since the CA is trusted for the whole process.
const QString kStartupTempPath = QDir::tempPath();

// The test PKI of this process: a CA and a leaf certificate for 127.0.0.1 / localhost signed
// by it, made once with the openssl tool, the CA trusted as a deployment would: in the CA list.
struct TestPki {
    QTemporaryDir dir{kStartupTempPath + "/qpki-XXXXXX"};
    QString error;

    static TestPki &instance() {
        static TestPki pki;
        return pki;
    }
    QString path(const QString &name) const { return dir.filePath(name); }

private:
    TestPki() {
        QProcess shell;
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start("sh", {"-c", kScript, "sh", dir.path()});
        const QList<QSslCertificate> ca =
            shell.waitForFinished(60000) && shell.exitStatus() == QProcess::NormalExit &&
                    shell.exitCode() == 0
                ? QSslCertificate::fromPath(path("ca.pem"))
                : QList<QSslCertificate>();
        if (ca.isEmpty()) {
            error = "openssl failed: " + QString::fromLocal8Bit(shell.readAll());
            return;
        }
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(ca);
        QSslConfiguration::setDefaultConfiguration(configuration);
    }

    static constexpr char kScript[] =
        "set -e; cd \"$1\"; key='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'\n"
        "openssl req -x509 $key -keyout ca.key -out ca.pem -days 3650 -subj '/CN=Quillora test CA' "
        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign\n"
        "openssl req $key -keyout server.key -out server.csr -subj /CN=localhost\n"
        "printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\nbasicConstraints=CA:FALSE\\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\\nextendedKeyUsage=serverAuth\\n' "
        ">leaf.ext\n"
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem "
        "-days 3650 -extfile leaf.ext\n";
};
} // namespace

ServiceFixture::ServiceFixture(LocalService::Options options)
    : m_options(std::move(options))
    , m_service(new LocalService) {
    m_hadUrl = qEnvironmentVariableIsSet(kUrlVariable);
    m_savedUrl = qgetenv(kUrlVariable);
    if (!(m_error = TestPki::instance().error).isEmpty())
        return;
    m_options.dataDir = m_dataDir.path();
    m_options.bindAddress = QHostAddress(QHostAddress::LocalHost);
    m_options.tlsCertificateFile = serverCertificatePath();
    m_options.tlsKeyFile = serverKeyPath();
    if (!m_service->start(m_options, &m_error))
        return;
    qputenv(kUrlVariable, baseUrlString().toUtf8());
}

ServiceFixture::~ServiceFixture() {
    delete m_service;
    if (m_hadUrl)
        qputenv(kUrlVariable, m_savedUrl);
    else
        qunsetenv(kUrlVariable);
}

bool ServiceFixture::restart() {
    const quint16 port = m_service->port();
    m_service->stop();
    m_options.port = port;
    return m_service->start(m_options, &m_error);
}

TestAccount ServiceFixture::createAccount(const QString &user, const QString &password,
                                          int documents) {
    ServiceStore &s = store();
    TestAccount account;
    account.user = user, account.password = password;
    if (!s.createUser(user, password))
        return account;
    account.profileId = s.addProfile(user, "Profilo di prova", 100000000);
    account.emptyProfileId = s.addProfile(user, "Profilo senza quota", 0);
    account.policyId = s.addPolicy(account.profileId, "Conservazione decennale");
    for (const QString name : {"Fatture", "Contratti"}) {
        const int classId = s.addClass(account.profileId, name, name, account.policyId);
        account.classIds.append(classId);
        account.fieldIds[classId] = {
            s.addField(classId, "Numero", FieldType::Text, true, "Numero del documento"),
            s.addField(classId, "Importo", FieldType::Number, false, "Importo in euro"),
            s.addField(classId, "Data", FieldType::Date, true)};
    }
    for (int i = 0; i < documents; ++i) {
        const int classId = account.classIds.at(i % account.classIds.size());
        const QList<int> &fields = account.fieldIds.value(classId);
        const QMap<int, QString> values = {
            {fields[0], QString("%1/2013").arg(i + 1)},
            {fields[1], QString::number(100 * (i + 1))},
            {fields[2], QString("%1/03/2013").arg(i % 28 + 1, 2, 10, QLatin1Char('0'))}};
        const QString name = QString("C:\\Documenti\\%1\\documento_%2.pdf").arg(user).arg(i + 1);
        const QString text = QString("%PDF-1.4\ndocumento %1 di %2\n%%EOF\n").arg(i + 1).arg(user);
        account.documents.append(s.preserve(user, classId, name, text.toUtf8(), values));
    }
    return account;
}

QString ServiceFixture::caCertificatePath() {
    return TestPki::instance().path("ca.pem");
}

QString ServiceFixture::serverCertificatePath() {
    return TestPki::instance().path("server.pem");
}

QString ServiceFixture::serverKeyPath() {
    return TestPki::instance().path("server.key");
}
