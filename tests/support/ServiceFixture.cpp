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

// The test PKI of this process: a CA and a leaf certificate for
// 127.0.0.1 / localhost signed by it, made once with the openssl tool.
class TestPki {
public:
    static TestPki &instance() {
        static TestPki pki;
        return pki;
    }

    bool isValid() const { return m_valid; }
    QString error() const { return m_error; }
    QString path(const QString &name) const { return m_dir.filePath(name); }

private:
    TestPki() {
        QProcess shell;
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromLatin1(kScript),
                                           QStringLiteral("sh"), m_dir.path()});
        if (!shell.waitForFinished(60000) || shell.exitStatus() != QProcess::NormalExit ||
            shell.exitCode() != 0) {
            m_error = QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(shell.readAll());
            return;
        }
        const QList<QSslCertificate> ca = QSslCertificate::fromPath(path(QStringLiteral("ca.pem")));
        if (ca.isEmpty()) {
            m_error = QStringLiteral("the generated CA cannot be read");
            return;
        }
        // Trusted the way a real deployment would be: through the CA list.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(ca);
        QSslConfiguration::setDefaultConfiguration(configuration);
        m_valid = true;
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

    QTemporaryDir m_dir{kStartupTempPath + QStringLiteral("/qpki-XXXXXX")};
    bool m_valid = false;
    QString m_error;
};
} // namespace

ServiceFixture::ServiceFixture(LocalService::Options options)
    : m_options(std::move(options))
    , m_service(new LocalService) {
    m_hadUrl = qEnvironmentVariableIsSet(kUrlVariable);
    m_savedUrl = qgetenv(kUrlVariable);
    TestPki &pki = TestPki::instance();
    if (!pki.isValid()) {
        m_error = pki.error();
        return;
    }
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

bool ServiceFixture::isRunning() const {
    return m_service->isRunning();
}

QUrl ServiceFixture::baseUrl() const {
    return m_service->baseUrl();
}

QString ServiceFixture::baseUrlString() const {
    return m_service->baseUrl().toString();
}

QUrl ServiceFixture::restUrl() const {
    return QUrl(baseUrlString() + QStringLiteral("/vazedo/RestService"));
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
    account.user = user;
    account.password = password;
    if (!s.createUser(user, password))
        return account;
    account.profileId = s.addProfile(user, QStringLiteral("Profilo di prova"), 100000000);
    account.emptyProfileId = s.addProfile(user, QStringLiteral("Profilo senza quota"), 0);
    account.policyId = s.addPolicy(account.profileId, QStringLiteral("Conservazione decennale"));
    const QStringList names = {QStringLiteral("Fatture"), QStringLiteral("Contratti")};
    for (const QString &name : names) {
        const int classId = s.addClass(account.profileId, name, name, account.policyId);
        account.classIds.append(classId);
        account.fieldIds[classId] = {
            s.addField(classId, QStringLiteral("Numero"), FieldType::Text, true,
                       QStringLiteral("Numero del documento")),
            s.addField(classId, QStringLiteral("Importo"), FieldType::Number, false,
                       QStringLiteral("Importo in euro")),
            s.addField(classId, QStringLiteral("Data"), FieldType::Date, true)};
    }
    for (int i = 0; i < documents; ++i) {
        const int classId = account.classIds.at(i % account.classIds.size());
        const QList<int> &fields = account.fieldIds.value(classId);
        const QMap<int, QString> values = {
            {fields.at(0), QStringLiteral("%1/2013").arg(i + 1)},
            {fields.at(1), QString::number(100 * (i + 1))},
            {fields.at(2), QStringLiteral("%1/03/2013").arg(i % 28 + 1, 2, 10, QLatin1Char('0'))}};
        const QString fileName =
            QStringLiteral("C:\\Documenti\\%1\\documento_%2.pdf").arg(user).arg(i + 1);
        const QByteArray content =
            QStringLiteral("%PDF-1.4\ndocumento %1 di %2\n%%EOF\n").arg(i + 1).arg(user).toUtf8();
        account.documents.append(s.preserve(user, classId, fileName, content, values));
    }
    return account;
}

QString ServiceFixture::caCertificatePath() {
    return TestPki::instance().path(QStringLiteral("ca.pem"));
}

QString ServiceFixture::serverCertificatePath() {
    return TestPki::instance().path(QStringLiteral("server.pem"));
}

QString ServiceFixture::serverKeyPath() {
    return TestPki::instance().path(QStringLiteral("server.key"));
}
