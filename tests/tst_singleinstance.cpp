#include "TestHome.h"
#include "app/FramedMessage.h"
#include "app/LocalThread.h"
#include "app/QtTranslation.h"
#include "app/SingleApplication.h"
#include "app/ThreadedLocalServer.h"
#include "platform/UserName.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSharedMemory>
#include <QThread>
#include <QTranslator>
#include <QtTest>

#include <memory>

// Start-up and single instance: names, the frame format, the server's
// connection threads, and whole processes: the product binary and this test
// binary re-launched as a bare instance that reports what it receives.
namespace {

// Set in the environment of a re-launched copy of this binary.
const char RoleKey[] = "TST_SINGLEINSTANCE_KEY";
const char RoleUser[] = "TST_SINGLEINSTANCE_USER";
constexpr int Patience = 30000;

using Status = FramedMessage::Status;

// A bare instance: "first" once it serves, then "message:<utf-8 hex>" per
// message; a later instance sends an empty message and reports the outcome.
int runInstance(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QString user = qEnvironmentVariable(RoleUser, Platform::currentUserName());
    SingleApplication single(qEnvironmentVariable(RoleKey), user, &app);
    QTextStream out(stdout);
    if (single.isRunning()) {
        out << "running sent=" << int(single.sendMessage(QStringLiteral(""))) << Qt::endl;
        return 0;
    }
    QObject::connect(
        &single, &SingleApplication::messageReceived, &app,
        [&out](const QString &text) { out << "message:" << text.toUtf8().toHex() << Qt::endl; });
    out << "first" << Qt::endl;
    return app.exec();
}

QString uniqueKey(const char *tag) {
    return QStringLiteral("tst-%1-%2-%3")
        .arg(QLatin1String(tag))
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->generate());
}

ThreadedLocalServer *serverNamed(const QString &name) {
    const auto servers = qApp->findChildren<ThreadedLocalServer *>(Qt::FindDirectChildrenOnly);
    for (ThreadedLocalServer *server : servers) {
        if (server->serverName() == name)
            return server;
    }
    return nullptr;
}

bool takeFrame(QLocalSocket &socket, QString *text) {
    return QTest::qWaitFor([&] { return FramedMessage::take(&socket, text) == Status::Complete; },
                           Patience);
}

bool acceptsConnections(const QString &name) {
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool connected = probe.waitForConnected(1000);
    probe.abort();
    return connected;
}

// Is a marker segment present, held or left behind? Creating it is the only
// look that does not destroy a leftover.
bool markerExists(const QString &name) {
    QSharedMemory probe(name);
    return !probe.create(1) && probe.error() == QSharedMemory::AlreadyExists;
}

// Greets every connection with a fixed text and then says nothing more.
class FakeInstance : public QThread {
public:
    FakeInstance(const QString &name, const QString &greeting)
        : m_name(name)
        , m_greeting(greeting) {}
    ~FakeInstance() override {
        quit();
        wait();
    }
    bool startListening() {
        start();
        m_ready.acquire();
        return m_listening;
    }

protected:
    void run() override {
        QLocalServer server;
        m_listening = server.listen(m_name);
        m_ready.release();
        connect(&server, &QLocalServer::newConnection, [&server, this] {
            while (QLocalSocket *socket = server.nextPendingConnection())
                socket->write(FramedMessage::encode(m_greeting));
        });
        if (m_listening)
            exec();
    }

private:
    const QString m_name;
    const QString m_greeting;
    QSemaphore m_ready;
    bool m_listening = false;
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Names
    void serverNameForUser();
    void cleanKey_data();
    void cleanKey();

    // Frames
    void frameBytes_data();
    void frameBytes();
    void badFrames_data();
    void badFrames();
    void framesBackToBack();

    // The server's connection threads, in this process
    void emptyMessageAcknowledgedAndEmitted();
    void objectsOfOneProcessShareTheServer();
    void stalledPartialFrameGivesUp();
    void malformedFrameClosesConnection();
    void wrongGreetingIsRefused();
    void liveHolderWithoutServerIsNotDisturbed();

    // Whole processes
    void messagesReachAnotherProcess();
    void otherUserRunsIndependently();
    void staleSocketFileIsReplaced();
    void productSecondStartReachesFirst();
    void productFirstInstanceAcknowledges();
    void productRecoversFromKilledInstance();

    void italianQtTranslation();

private:
    QProcess *launch(const QString &program, const QProcessEnvironment &extra);
    QProcess *launchInstance(const QString &key, const QString &user = QString());
    QProcess *launchProduct();
    bool waitForOutput(QProcess *process, const QByteArray &text);
    // Keeps this process's event loop running, so instances in it stay served.
    bool waitForExit(QProcess *process);
    void stop(QProcess *process);
    void clearLeftovers(const QString &name);

    QString m_productPath;
    QString m_productServer;
    std::unique_ptr<TestHome> m_home;
    QList<QProcess *> m_children;
    QHash<QProcess *, QByteArray> m_output;
    QStringList m_usedNames;
};

void TestSingleInstance::initTestCase() {
    const QString dir =
        qEnvironmentVariable("QUILLORA_BINARY_DIR", QCoreApplication::applicationDirPath() + "/..");
    m_productPath = QDir(dir).absoluteFilePath(QStringLiteral("quilloralite"));
    QVERIFY2(QFileInfo(m_productPath).isExecutable(), qPrintable(m_productPath));
    m_productServer = SingleApplication::serverNameFor(
        QString::fromLatin1(SingleApplication::ApplicationKey), Platform::currentUserName());
    QVERIFY(!Platform::currentUserName().isEmpty());
}

void TestSingleInstance::init() {
    m_home = std::make_unique<TestHome>();
}

void TestSingleInstance::cleanup() {
    for (QProcess *child : std::as_const(m_children))
        stop(child);
    qDeleteAll(m_children);
    m_children.clear();
    m_output.clear();
    // Killed instances leave their marker and socket file behind.
    for (const QString &name : std::as_const(m_usedNames))
        clearLeftovers(name);
    m_usedNames.clear();
    // Instances of this process live on the application object; end them while
    // their files are still in this test's home.
    qDeleteAll(qApp->findChildren<ThreadedLocalServer *>(Qt::FindDirectChildrenOnly));
    qDeleteAll(qApp->findChildren<QSharedMemory *>(Qt::FindDirectChildrenOnly));
    m_home.reset();
}

QProcess *TestSingleInstance::launch(const QString &program, const QProcessEnvironment &extra) {
    auto *process = new QProcess;
    m_children.append(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(extra);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, {});
    return process;
}

QProcess *TestSingleInstance::launchInstance(const QString &key, const QString &user) {
    QProcessEnvironment extra;
    extra.insert(QString::fromLatin1(RoleKey), key);
    if (!user.isNull())
        extra.insert(QString::fromLatin1(RoleUser), user);
    m_usedNames.append(
        SingleApplication::serverNameFor(key, user.isNull() ? Platform::currentUserName() : user));
    return launch(QCoreApplication::applicationFilePath(), extra);
}

QProcess *TestSingleInstance::launchProduct() {
    m_usedNames.append(m_productServer);
    return launch(m_productPath, QProcessEnvironment());
}

bool TestSingleInstance::waitForOutput(QProcess *process, const QByteArray &text) {
    return QTest::qWaitFor(
        [&] {
            m_output[process] += process->readAllStandardOutput();
            return m_output[process].contains(text);
        },
        Patience);
}

bool TestSingleInstance::waitForExit(QProcess *process) {
    return QTest::qWaitFor([process] { return process->state() == QProcess::NotRunning; },
                           Patience);
}

void TestSingleInstance::stop(QProcess *process) {
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(Patience);
    }
}

void TestSingleInstance::clearLeftovers(const QString &name) {
    QSharedMemory marker(name);
    if (marker.attach())
        marker.detach();
    QLocalServer::removeServer(name);
}

void TestSingleInstance::serverNameForUser() {
    const QString key = QString::fromLatin1(SingleApplication::ApplicationKey);
    QCOMPARE(SingleApplication::serverNameFor(key, QStringLiteral("user1")),
             QStringLiteral("_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_7573657231"));
    // The user name enters as the hex of its UTF-8 bytes.
    QCOMPARE(SingleApplication::serverNameFor(key, QStringLiteral("José")),
             QStringLiteral("_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_4a6f73c3a9"));

    const SingleApplication single(key, QStringLiteral("user1"), nullptr);
    QCOMPARE(single.id(), QStringLiteral("5C1F7A2E3B8D4E91A6D27F0B9C4E1A36"));
    QCOMPARE(single.serverName(),
             QStringLiteral("_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_7573657231"));
    QVERIFY(!single.isRunning());
}

void TestSingleInstance::cleanKey_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("id");
    QTest::newRow("application key") << QString::fromLatin1(SingleApplication::ApplicationKey)
                                     << QStringLiteral("5C1F7A2E3B8D4E91A6D27F0B9C4E1A36");
    QTest::newRow("only punctuation")
        << QStringLiteral("-{}_ .:/") << QStringLiteral("SADEFAULTKEY");
    QTest::newRow("empty") << QString() << QStringLiteral("SADEFAULTKEY");
    QTest::newRow("non-ASCII letters dropped") << QStringLiteral("àb-Ç9z") << QStringLiteral("b9z");
    QTest::newRow("case kept") << QStringLiteral("aB_c") << QStringLiteral("aBc");
}

void TestSingleInstance::cleanKey() {
    QFETCH(QString, key);
    QFETCH(QString, id);
    QCOMPARE(SingleApplication::cleanKey(key), id);
}

void TestSingleInstance::frameBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("empty") << QStringLiteral("")
                           << QByteArray("00000004"
                                         "00000000");
    QTest::newRow("ascii") << QStringLiteral("Ab")
                           << QByteArray("00000008"
                                         "00000004"
                                         "00410062");
    // è and U+1F600 (a surrogate pair): three UTF-16 code units.
    QTest::newRow("non-ASCII and surrogate pair") << QStringLiteral("è\U0001F600")
                                                  << QByteArray("0000000a"
                                                                "00000006"
                                                                "00e8d83dde00");
}

void TestSingleInstance::frameBytes() {
    QFETCH(QString, text);
    QFETCH(QByteArray, hex);
    const QByteArray frame = FramedMessage::encode(text);
    QCOMPARE(frame.toHex(), hex);

    QString decoded = QStringLiteral("unchanged");
    qsizetype size = 0;
    QCOMPARE(FramedMessage::decode(frame, &decoded, &size), Status::Complete);
    QCOMPARE(decoded, text);
    QCOMPARE(size, frame.size());
    // Every proper prefix is only incomplete.
    for (qsizetype cut = 0; cut < frame.size(); ++cut)
        QCOMPARE(FramedMessage::decode(frame.left(cut), &decoded, &size), Status::Incomplete);
}

void TestSingleInstance::badFrames_data() {
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("negative size") << QByteArray("ffffffff"
                                                 "00000000");
    QTest::newRow("size shorter than a string") << QByteArray("00000002"
                                                              "0000");
    QTest::newRow("size beyond the limit") << QByteArray("00100001");
    QTest::newRow("odd string length") << QByteArray("00000005"
                                                     "00000001"
                                                     "41");
    QTest::newRow("string shorter than size") << QByteArray("00000008"
                                                            "00000002"
                                                            "0041"
                                                            "0042");
    QTest::newRow("string longer than size") << QByteArray("00000006"
                                                           "00000004"
                                                           "0041");
}

void TestSingleInstance::badFrames() {
    QFETCH(QByteArray, hex);
    QString text;
    qsizetype size = 0;
    QCOMPARE(FramedMessage::decode(QByteArray::fromHex(hex), &text, &size), Status::Malformed);
    QVERIFY(text.isEmpty());
}

void TestSingleInstance::framesBackToBack() {
    const QByteArray first = FramedMessage::encode(QStringLiteral("uno"));
    const QByteArray both = first + FramedMessage::encode(QStringLiteral("due"));
    QString text;
    qsizetype size = 0;
    QCOMPARE(FramedMessage::decode(both, &text, &size), Status::Complete);
    QCOMPARE(text, QStringLiteral("uno"));
    QCOMPARE(size, first.size());
    QCOMPARE(FramedMessage::decode(both.mid(size), &text, &size), Status::Complete);
    QCOMPARE(text, QStringLiteral("due"));
}

void TestSingleInstance::emptyMessageAcknowledgedAndEmitted() {
    const SingleApplication first(uniqueKey("empty"), nullptr);
    QVERIFY(!first.isRunning());
    QList<QString> received;
    QList<QThread *> threads;
    connect(&first, &SingleApplication::messageReceived, this, [&](const QString &text) {
        received.append(text);
        threads.append(QThread::currentThread());
    });

    QLocalSocket peer;
    peer.connectToServer(first.serverName());
    QString greeting;
    QVERIFY(takeFrame(peer, &greeting));
    QCOMPARE(greeting, first.id());

    peer.write(FramedMessage::encode(QStringLiteral("")));
    QString ack;
    QVERIFY(takeFrame(peer, &ack));
    QCOMPARE(ack, first.id());
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 1, Patience);
    QVERIFY(received.at(0).isEmpty());
    QCOMPARE(threads.at(0), qApp->thread());

    // Two frames in one write, then one frame in two pieces: each is
    // acknowledged and reported once, in order.
    peer.write(FramedMessage::encode(QStringLiteral("uno")) +
               FramedMessage::encode(QStringLiteral("due")));
    const QByteArray third = FramedMessage::encode(QStringLiteral("tre è"));
    peer.write(third.left(5));
    QVERIFY(peer.waitForBytesWritten(Patience));
    QTest::qWait(50);
    peer.write(third.mid(5));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(takeFrame(peer, &ack));
        QCOMPARE(ack, first.id());
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 4, Patience);
    QCOMPARE(received.mid(1), QList<QString>({QStringLiteral("uno"), QStringLiteral("due"),
                                              QStringLiteral("tre è")}));
    QCOMPARE(threads.count(qApp->thread()), 4);
}

void TestSingleInstance::objectsOfOneProcessShareTheServer() {
    const QString key = uniqueKey("shared");
    const SingleApplication first(key, nullptr);
    const SingleApplication second(key, nullptr);
    QVERIFY(!first.isRunning());
    QVERIFY(!second.isRunning());
    QSignalSpy firstSpy(&first, &SingleApplication::messageReceived);
    QSignalSpy secondSpy(&second, &SingleApplication::messageReceived);

    QLocalSocket peer;
    peer.connectToServer(first.serverName());
    QString frame;
    QVERIFY(takeFrame(peer, &frame));
    peer.write(FramedMessage::encode(QStringLiteral("ciao")));
    QTRY_COMPARE_WITH_TIMEOUT(firstSpy.size(), 1, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(secondSpy.size(), 1, Patience);
    QCOMPARE(secondSpy.at(0).at(0).toString(), QStringLiteral("ciao"));
}

void TestSingleInstance::stalledPartialFrameGivesUp() {
    const SingleApplication first(uniqueKey("stall"), nullptr);
    ThreadedLocalServer *server = serverNamed(first.serverName());
    QVERIFY(server);
    QSignalSpy spy(&first, &SingleApplication::messageReceived);

    QLocalSocket stalled;
    stalled.connectToServer(first.serverName());
    QString frame;
    QVERIFY(takeFrame(stalled, &frame));
    stalled.write(FramedMessage::encode(QStringLiteral("mai finito")).left(9));
    QVERIFY(stalled.waitForBytesWritten(Patience));

    // Meanwhile another peer is served as usual.
    QLocalSocket other;
    other.connectToServer(first.serverName());
    QVERIFY(takeFrame(other, &frame));
    other.write(FramedMessage::encode(QStringLiteral("avanti")));
    QVERIFY(takeFrame(other, &frame));
    QCOMPARE(frame, first.id());
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, Patience);

    // The stalled connection is closed and its thread ends; the other stays.
    QTRY_COMPARE_WITH_TIMEOUT(stalled.state(), QLocalSocket::UnconnectedState,
                              LocalThread::StallLimitMs + Patience);
    QTRY_COMPARE_WITH_TIMEOUT(server->findChildren<LocalThread *>().size(), 1, Patience);
    QCOMPARE(other.state(), QLocalSocket::ConnectedState);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("avanti"));

    other.disconnectFromServer();
    QTRY_VERIFY_WITH_TIMEOUT(server->findChildren<LocalThread *>().isEmpty(), Patience);
}

void TestSingleInstance::malformedFrameClosesConnection() {
    const SingleApplication first(uniqueKey("malformed"), nullptr);
    QSignalSpy spy(&first, &SingleApplication::messageReceived);
    for (const char *hex : {"ffffffff", "7fffffff"
                                        "00000002"}) {
        QLocalSocket peer;
        peer.connectToServer(first.serverName());
        QString frame;
        QVERIFY(takeFrame(peer, &frame));
        peer.write(QByteArray::fromHex(hex));
        QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QLocalSocket::UnconnectedState, Patience);
    }
    QVERIFY(serverNamed(first.serverName()));
    QCOMPARE(spy.size(), 0);
}

void TestSingleInstance::wrongGreetingIsRefused() {
    const QString key = uniqueKey("greeting");
    const QString name = SingleApplication::serverNameFor(key, Platform::currentUserName());
    QSharedMemory marker(name);
    QVERIFY(marker.create(1));
    FakeInstance fake(name, QStringLiteral("Altro"));
    QVERIFY(fake.startListening());

    SingleApplication later(key, nullptr);
    QVERIFY(later.isRunning());
    QVERIFY(!later.sendMessage(QStringLiteral("ciao")));
    QVERIFY(!later.sendMessage(QStringLiteral("")));
    QVERIFY(marker.isAttached());
    QVERIFY(markerExists(name));
}

void TestSingleInstance::liveHolderWithoutServerIsNotDisturbed() {
    const QString key = uniqueKey("holder");
    const QString name = SingleApplication::serverNameFor(key, Platform::currentUserName());
    QSharedMemory marker(name);
    QVERIFY(marker.create(1));

    SingleApplication later(key, nullptr);
    QVERIFY(later.isRunning());
    QVERIFY(!later.sendMessage(QStringLiteral("")));
    QVERIFY(markerExists(name));
    QVERIFY(!serverNamed(name));
}

void TestSingleInstance::messagesReachAnotherProcess() {
    const QString key = uniqueKey("process");
    QProcess *first = launchInstance(key);
    QVERIFY(waitForOutput(first, "first\n"));

    SingleApplication later(key, nullptr);
    QVERIFY(later.isRunning());
    QVERIFY(later.sendMessage(QStringLiteral("")));
    QVERIFY(later.sendMessage(QStringLiteral("è\U0001F600")));
    QVERIFY(waitForOutput(
        first, "message:\nmessage:" + QStringLiteral("è\U0001F600").toUtf8().toHex() + "\n"));

    // A later process reports that the first acknowledged its empty message.
    QProcess *second = launchInstance(key);
    QVERIFY(waitForExit(second));
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(waitForOutput(second, "running sent=1\n"));
    QVERIFY(
        waitForOutput(first, "message:\nmessage:" + QStringLiteral("è\U0001F600").toUtf8().toHex() +
                                 "\nmessage:\n"));
    QCOMPARE(first->state(), QProcess::Running);
}

void TestSingleInstance::otherUserRunsIndependently() {
    const QString key = uniqueKey("user");
    QProcess *mine = launchInstance(key);
    QVERIFY(waitForOutput(mine, "first\n"));

    const QString otherUser = QStringLiteral("qualcun-altro");
    const SingleApplication other(key, otherUser, nullptr);
    QVERIFY(!other.isRunning());
    QVERIFY(other.serverName() !=
            SingleApplication::serverNameFor(key, Platform::currentUserName()));
    QSignalSpy spy(&other, &SingleApplication::messageReceived);

    // A start of the other user reaches the other user's instance.
    // Waiting spins this process's event loop, which serves the connection.
    QProcess *later = launchInstance(key, otherUser);
    QVERIFY(waitForOutput(later, "running sent=1\n"));
    QVERIFY(waitForExit(later));
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, Patience);
    QCOMPARE(mine->state(), QProcess::Running);
}

void TestSingleInstance::staleSocketFileIsReplaced() {
    // As after a reboot: the marker is gone, the socket file of the dead
    // instance is still there.
    const QString key = uniqueKey("stale");
    const QString name = SingleApplication::serverNameFor(key, Platform::currentUserName());
    QProcess *dead = launchInstance(key);
    QVERIFY(waitForOutput(dead, "first\n"));
    stop(dead);
    QSharedMemory leftover(name);
    QVERIFY(leftover.attach());
    QVERIFY(leftover.detach());
    QVERIFY(QFileInfo::exists(QDir(QDir::tempPath()).filePath(name)));

    QProcess *first = launchInstance(key);
    QVERIFY(waitForOutput(first, "first\n"));
    SingleApplication later(key, nullptr);
    QVERIFY(later.isRunning());
    QVERIFY(later.sendMessage(QStringLiteral("di nuovo")));
    QVERIFY(waitForOutput(first, "message:" + QByteArray("di nuovo").toHex()));
}

void TestSingleInstance::productSecondStartReachesFirst() {
    const QString key = QString::fromLatin1(SingleApplication::ApplicationKey);
    QProcess *first = launchInstance(key);
    QVERIFY(waitForOutput(first, "first\n"));

    QProcess *second = launchProduct();
    QVERIFY(waitForExit(second));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(waitForOutput(first, "message:\n"));
    QCOMPARE(first->state(), QProcess::Running);
}

void TestSingleInstance::productFirstInstanceAcknowledges() {
    QProcess *first = launchProduct();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(m_productServer), Patience);

    QProcess *second = launchProduct();
    QVERIFY(waitForExit(second));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    SingleApplication later(QString::fromLatin1(SingleApplication::ApplicationKey), nullptr);
    QVERIFY(later.isRunning());
    QVERIFY(later.sendMessage(QStringLiteral("")));
}

void TestSingleInstance::productRecoversFromKilledInstance() {
    QProcess *killed = launchProduct();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(m_productServer), Patience);
    stop(killed);
    QCOMPARE(killed->exitStatus(), QProcess::CrashExit);
    QVERIFY(markerExists(m_productServer));
    QVERIFY(QFileInfo::exists(QDir(QDir::tempPath()).filePath(m_productServer)));
    QVERIFY(!acceptsConnections(m_productServer));

    // The next start takes over instead of reporting to nobody.
    QProcess *first = launchProduct();
    QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(m_productServer), Patience);
    QCOMPARE(first->state(), QProcess::Running);

    QProcess *second = launchProduct();
    QVERIFY(waitForExit(second));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);
    SingleApplication later(QString::fromLatin1(SingleApplication::ApplicationKey), nullptr);
    QVERIFY(later.isRunning());
    QVERIFY(later.sendMessage(QStringLiteral("")));
}

void TestSingleInstance::italianQtTranslation() {
    if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_it.qm"))
        QSKIP("Qt's Italian translation is not installed");
    QtTranslation::installItalian(qApp);
    const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
    const auto translators = qApp->findChildren<QTranslator *>(Qt::FindDirectChildrenOnly);
    for (QTranslator *translator : translators)
        QCoreApplication::removeTranslator(translator);
    qDeleteAll(translators);
    QCOMPARE(translators.size(), 1);
    QCOMPARE(cancel, QStringLiteral("Annulla"));
}

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsSet(RoleKey))
        return runInstance(argc, argv);
    QApplication app(argc, argv);
    TestSingleInstance test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
