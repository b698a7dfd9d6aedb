#include "TestHome.h"
#include "TestMain.h"
#include "app/FramedMessage.h"
#include "app/LocalThread.h"
#include "app/SingleApplication.h"
#include "platform/UserName.h"
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSharedMemory>

namespace {

const char RoleKey[] = "TST_SINGLEINSTANCE_KEY"; // set: this binary is a bare instance
const char RoleUser[] = "TST_SINGLEINSTANCE_USER";
constexpr int Patience = 30000;
const QString ProductKey = QString::fromLatin1(SingleApplication::ApplicationKey);

// A bare instance: "first" once it serves, then "message:<utf-8 hex>" per message; a later
// one sends an empty message and reports whether the first acknowledged it.
int runInstance(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    SingleApplication single(qEnvironmentVariable(RoleKey), qEnvironmentVariable(RoleUser), &app);
    QTextStream out(stdout);
    if (single.isRunning())
        return out << "running sent=" << int(single.sendMessage("")) << Qt::endl, 0;
    QObject::connect(&single, &SingleApplication::messageReceived, &app, [&](const QString &text) {
        out << "message:" << text.toUtf8().toHex() << Qt::endl;
    });
    out << "first" << Qt::endl;
    return app.exec();
}

QString nameFor(const QString &key, const QString &user = Platform::currentUserName()) {
    return SingleApplication::serverNameFor(key, user);
}

QString takeFrame(QLocalSocket &socket) { // empty when none comes in time
    QString text;
    (void)QTest::qWaitFor(
        [&] { return FramedMessage::take(&socket, &text) == FramedMessage::Status::Complete; },
        Patience);
    return text;
}

bool serving(const QString &name) {
    QLocalSocket probe;
    probe.connectToServer(name);
    return probe.waitForConnected(1000);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    TestHome home;
    QString key; // a fresh one for every case
    QHash<QProcess *, QByteArray> output;
    QStringList usedNames;

    // The product when `key` is null, else a bare instance.
    QProcess *launch(const QString &key, const QString &user = Platform::currentUserName()) {
        auto *process = new QProcess(this);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(RoleUser, user);
        if (!key.isNull())
            environment.insert(RoleKey, key);
        process->setProcessEnvironment(environment);
        process->start(key.isNull() ? qEnvironmentVariable("QUILLORA_BINARY_DIR") + "/quilloralite"
                                    : QCoreApplication::applicationFilePath());
        usedNames << nameFor(key.isNull() ? ProductKey : key, user), output[process];
        return process;
    }
    bool printed(QProcess *process, const QByteArray &text) { // all it printed contains `text`
        QByteArray &seen = output[process];
        return QTest::qWaitFor(
            [&] { return (seen += process->readAllStandardOutput()).contains(text); }, Patience);
    }
    static bool exited(QProcess *process) { // well, on its own
        return process->waitForFinished(Patience) &&
               process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
    }

private slots:
    void init() { key = QString::number(QRandomGenerator::global()->generate64()); }
    void cleanup() { // killed instances leave their marker and socket file behind
        for (QProcess *process : output.keys())
            process->kill(), process->waitForFinished(Patience), delete process;
        for (const QString &name : std::as_const(usedNames))
            QSharedMemory(name).attach(), QLocalServer::removeServer(name); // the last detach
        output.clear(), usedNames.clear();                                  // destroys it
    }

    void serverNamePerUserAndFrameFormat() {
        QCOMPARE(nameFor(ProductKey, "user1"),
                 QStringLiteral("_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_7573657231"));
        QCOMPARE(nameFor(ProductKey, "José"), // the hex of the UTF-8 bytes
                 QStringLiteral("_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_4a6f73c3a9"));
        QCOMPARE(FramedMessage::encode("Ab").toHex(), QByteArray("000000080000000400410062"));
    }

    void hostilePeers_data() {
        QTest::addColumn<QByteArray>("hex");   // what a peer sends after the greeting
        QTest::addColumn<QString>("greeting"); // else: how a first instance greets
        QTest::newRow("negative size") << QByteArray("ffffffff") << QString();
        QTest::newRow("size beyond the limit") << QByteArray("00100001") << QString();
        QTest::newRow("size shorter than a string") << QByteArray("000000020000") << QString();
        QTest::newRow("odd string length") << QByteArray("000000050000000141") << QString();
        QTest::newRow("string beyond its frame") << QByteArray("00000006000000040041") << QString();
        QTest::newRow("stalled partial frame") << QByteArray("000000180000001400") << QString();
        QTest::newRow("wrong greeting") << QByteArray() << "Altro";
    }
    void hostilePeers() {
        QFETCH(QByteArray, hex);
        QFETCH(QString, greeting);
        if (!greeting.isEmpty()) {
            QSharedMemory marker(nameFor(key));
            QVERIFY(marker.create(1));
            QSemaphore listening;
            std::unique_ptr<QThread> fake(QThread::create([&] {
                QLocalServer server;
                server.listen(nameFor(key));
                connect(&server, &QLocalServer::newConnection, [&] {
                    server.nextPendingConnection()->write(FramedMessage::encode(greeting));
                });
                listening.release();
                QEventLoop().exec();
            }));
            fake->start();
            listening.acquire();
            SingleApplication later(key, nullptr);
            const bool refused = later.isRunning() && !later.sendMessage("ciao");
            fake->quit(), fake->wait();
            QVERIFY(refused);
            QVERIFY(marker.isAttached()); // the holder is left alone
            return;
        }
        const SingleApplication first(key, nullptr);
        QSignalSpy received(&first, &SingleApplication::messageReceived);
        QLocalSocket hostile, peer;
        QSignalSpy dropped(&hostile, &QLocalSocket::disconnected);
        hostile.connectToServer(first.serverName());
        QCOMPARE(takeFrame(hostile), first.id());
        hostile.write(QByteArray::fromHex(hex));
        QVERIFY(dropped.wait(LocalThread::StallLimitMs + Patience));
        // Everybody else is still served, frames back to back too; the dropped peer never
        // reported anything.
        peer.connectToServer(first.serverName());
        QCOMPARE(takeFrame(peer), first.id());
        peer.write(FramedMessage::encode("avanti") + FramedMessage::encode("è\U0001F600"));
        QCOMPARE(takeFrame(peer) + takeFrame(peer), first.id() + first.id());
        QVERIFY(QTest::qWaitFor([&] { return received.count() == 2; }, Patience));
        QCOMPARE(received, QList<QVariantList>({{"avanti"}, {"è\U0001F600"}}));
    }

    void instancesInOtherProcesses() {
        QProcess *first = launch(key);
        QVERIFY(printed(first, "first\n"));
        SingleApplication later(key, nullptr);
        QVERIFY(later.isRunning() && later.sendMessage("") && later.sendMessage("è\U0001F600"));
        const QByteArray both = "message:\nmessage:" + QString("è\U0001F600").toUtf8().toHex();
        QVERIFY(printed(first, both + "\n"));
        QVERIFY(printed(launch(key), "running sent=1\n")); // a later process is acknowledged
        QVERIFY(printed(first, both + "\nmessage:\n"));

        // Another user's instances are apart: its later start reaches its own instance (here).
        const SingleApplication other(key, "qualcun-altro", nullptr);
        QVERIFY(!other.isRunning());
        QSignalSpy received(&other, &SingleApplication::messageReceived);
        QVERIFY(printed(launch(key, "qualcun-altro"), "running sent=1\n"));
        QVERIFY(received.count() == 1 || received.wait(Patience));
        QCOMPARE(first->state(), QProcess::Running);

        // As after a reboot: the marker is gone, the dead instance's socket file is not.
        first->kill();
        QVERIFY(first->waitForFinished(Patience));
        QSharedMemory leftover(nameFor(key));
        QVERIFY(leftover.attach() && leftover.detach());
        QVERIFY(QFileInfo::exists(QDir::temp().filePath(nameFor(key))));
        QProcess *next = launch(key);
        QVERIFY(printed(next, "first\n"));
        QVERIFY(SingleApplication(key, nullptr).sendMessage("di nuovo"));
        QVERIFY(printed(next, "message:" + QByteArray("di nuovo").toHex()));
    }

    void productInstances() {
        QProcess *first = launch(ProductKey);
        QVERIFY(printed(first, "first\n"));
        QVERIFY(exited(launch(QString()))); // a second start reaches the first and ends
        QVERIFY(printed(first, "message:\n"));
        first->kill();
        QVERIFY(first->waitForFinished(Patience) && !serving(nameFor(ProductKey)));
        // The next start takes over from the killed one instead of reporting to nobody, and
        // acknowledges later ones.
        first = launch(QString());
        QTRY_VERIFY_WITH_TIMEOUT(serving(nameFor(ProductKey)), Patience);
        QVERIFY(exited(launch(QString())));
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(SingleApplication(ProductKey, nullptr).sendMessage(""));
    }
};

// The process cases need a bare instance that the product cannot be: one told its user and
// reporting what it receives. This binary becomes one when RoleKey is set.
#define main testMain
QUILLORA_TEST_MAIN(TestSingleInstance)
#undef main
int main(int argc, char **argv) {
    return qEnvironmentVariableIsSet(RoleKey) ? runInstance(argc, argv) : testMain(argc, argv);
}

#include "tst_singleinstance.moc"
