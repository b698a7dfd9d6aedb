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

// A bare instance: "first" once it serves, then "message:<utf-8 hex>" per message; a later
// one sends an empty message and reports whether the first acknowledged it.
int runInstance(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    SingleApplication single(qEnvironmentVariable(RoleKey),
                             qEnvironmentVariable(RoleUser, Platform::currentUserName()), &app);
    QTextStream out(stdout);
    if (single.isRunning())
        return out << "running sent=" << int(single.sendMessage("")) << Qt::endl, 0;
    QObject::connect(&single, &SingleApplication::messageReceived, &app, [&](const QString &text) {
        out << "message:" << text.toUtf8().toHex() << Qt::endl;
    });
    out << "first" << Qt::endl;
    return app.exec();
}

QString uniqueKey() {
    return QString::number(QRandomGenerator::global()->generate64());
}

QString nameFor(const QString &key) {
    return SingleApplication::serverNameFor(key, Platform::currentUserName());
}

bool takeFrame(QLocalSocket &socket, QString *text) {
    return QTest::qWaitFor(
        [&] { return FramedMessage::take(&socket, text) == FramedMessage::Status::Complete; },
        Patience);
}

bool acceptsConnections(const QString &name) {
    QLocalSocket probe;
    probe.connectToServer(name);
    return probe.waitForConnected(1000);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    std::unique_ptr<TestHome> home;
    QList<QProcess *> children;
    QStringList usedNames;
    const QString productKey = QString::fromLatin1(SingleApplication::ApplicationKey);

    QProcess *launch(const QString &key, const QString &user = QString()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        if (!key.isNull())
            environment.insert(RoleKey, key);
        if (!user.isNull())
            environment.insert(RoleUser, user);
        usedNames << SingleApplication::serverNameFor(
            key.isNull() ? productKey : key, user.isNull() ? Platform::currentUserName() : user);
        auto *process = new QProcess(this);
        children << process;
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString dir = qEnvironmentVariable("QUILLORA_BINARY_DIR",
                                                 QCoreApplication::applicationDirPath() + "/..");
        process->start(
            key.isNull() ? dir + "/quilloralite" : QCoreApplication::applicationFilePath(), {});
        return process;
    }
    QProcess *product() { return launch(QString()); }
    // Waits until everything the process printed contains `text`.
    bool printed(QProcess *process, const QByteArray &text) {
        QByteArray &seen = output[process];
        return QTest::qWaitFor(
            [&] { return (seen += process->readAllStandardOutput()).contains(text); }, Patience);
    }
    bool exited(QProcess *process) {
        return QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; },
                               Patience) &&
               process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
    }
    static void kill(QProcess *process) {
        process->kill();
        process->waitForFinished(Patience);
    }
    QHash<QProcess *, QByteArray> output;

private slots:
    void init() { home = std::make_unique<TestHome>(); }
    void cleanup() {
        for (QProcess *child : std::as_const(children))
            kill(child);
        qDeleteAll(children), children.clear(), output.clear();
        // Killed instances leave their marker and socket file behind.
        for (const QString &name : std::as_const(usedNames)) {
            QSharedMemory marker(name);
            if (marker.attach())
                marker.detach();
            QLocalServer::removeServer(name);
        }
        usedNames.clear();
        // Instances of this process live on the application; they end in this test's home.
        qDeleteAll(qApp->findChildren<QLocalServer *>(Qt::FindDirectChildrenOnly));
        qDeleteAll(qApp->findChildren<QSharedMemory *>(Qt::FindDirectChildrenOnly));
        home.reset();
    }

    void serverNamePerUser() {
        QCOMPARE(SingleApplication::serverNameFor(productKey, "user1"),
                 QStringLiteral("_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_7573657231"));
        QCOMPARE(SingleApplication::serverNameFor(productKey, "José"), // hex of the UTF-8 bytes
                 QStringLiteral("_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_4a6f73c3a9"));
    }

    void framesBackToBack() {
        const QByteArray first = FramedMessage::encode("Ab");
        QCOMPARE(first.toHex(), QByteArray("000000080000000400410062"));
        const QByteArray both = first + FramedMessage::encode("è\U0001F600");
        QString text;
        qsizetype size = 0;
        QCOMPARE(FramedMessage::decode(both.left(first.size() - 1), &text, &size),
                 FramedMessage::Status::Incomplete);
        QCOMPARE(FramedMessage::decode(both, &text, &size), FramedMessage::Status::Complete);
        QCOMPARE(text, QStringLiteral("Ab"));
        QCOMPARE(size, first.size());
        QCOMPARE(FramedMessage::decode(both.mid(size), &text, &size),
                 FramedMessage::Status::Complete);
        QCOMPARE(text, QStringLiteral("è\U0001F600"));
    }

    void hostilePeers_data() {
        QTest::addColumn<QByteArray>("hex");   // what the peer sends after the greeting
        QTest::addColumn<QString>("greeting"); // else: a first instance that greets so
        QTest::newRow("negative size") << QByteArray("ffffffff") << QString();
        QTest::newRow("size beyond the limit") << QByteArray("00100001") << QString();
        QTest::newRow("size shorter than a string") << QByteArray("000000020000") << QString();
        QTest::newRow("odd string length") << QByteArray("000000050000000141") << QString();
        QTest::newRow("string longer than its frame")
            << QByteArray("000000060000000400" "41") << QString();
        QTest::newRow("stalled partial frame") << QByteArray("000000180000001400") << QString();
        QTest::newRow("wrong greeting") << QByteArray() << "Altro";
    }
    void hostilePeers() {
        QFETCH(QByteArray, hex);
        QFETCH(QString, greeting);
        const QString key = uniqueKey();
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
        QString frame;
        hostile.connectToServer(first.serverName());
        QVERIFY(takeFrame(hostile, &frame));
        hostile.write(QByteArray::fromHex(hex));
        QVERIFY(dropped.wait(LocalThread::StallLimitMs + Patience));
        // Everybody else is still served; the dropped peer never reported anything.
        peer.connectToServer(first.serverName());
        QVERIFY(takeFrame(peer, &frame));
        peer.write(FramedMessage::encode("avanti"));
        QVERIFY(takeFrame(peer, &frame));
        QCOMPARE(frame, first.id());
        QVERIFY(received.wait(Patience));
        QCOMPARE(received, QList<QVariantList>({{"avanti"}}));
    }

    void messagesReachAnotherProcess() {
        const QString key = uniqueKey();
        QProcess *first = launch(key);
        QVERIFY(printed(first, "first\n"));
        SingleApplication later(key, nullptr);
        QVERIFY(later.isRunning());
        QVERIFY(later.sendMessage(""));
        QVERIFY(later.sendMessage("è\U0001F600"));
        const QByteArray both =
            "message:\nmessage:" + QString("è\U0001F600").toUtf8().toHex() + "\n";
        QVERIFY(printed(first, both));
        // A later process is acknowledged too.
        QProcess *second = launch(key);
        QVERIFY(printed(second, "running sent=1\n"));
        QVERIFY(exited(second));
        QVERIFY(printed(first, both + "message:\n"));
    }

    void otherUserRunsIndependently() {
        const QString key = uniqueKey();
        QProcess *mine = launch(key);
        QVERIFY(printed(mine, "first\n"));
        const SingleApplication other(key, "qualcun-altro", nullptr);
        QVERIFY(!other.isRunning());
        QSignalSpy spy(&other, &SingleApplication::messageReceived);
        // The other user's later start reaches the other user's instance, in this process.
        QProcess *later = launch(key, "qualcun-altro");
        QVERIFY(printed(later, "running sent=1\n"));
        QVERIFY(spy.count() == 1 || spy.wait(Patience));
        QCOMPARE(mine->state(), QProcess::Running);
    }

    void staleSocketFileIsReplaced() {
        // As after a reboot: the marker is gone, the dead instance's socket file is not.
        const QString key = uniqueKey();
        QProcess *dead = launch(key);
        QVERIFY(printed(dead, "first\n"));
        kill(dead);
        QSharedMemory leftover(nameFor(key));
        QVERIFY(leftover.attach() && leftover.detach());
        QVERIFY(QFileInfo::exists(QDir::temp().filePath(nameFor(key))));
        QProcess *first = launch(key);
        QVERIFY(printed(first, "first\n"));
        SingleApplication later(key, nullptr);
        QVERIFY(later.sendMessage("di nuovo"));
        QVERIFY(printed(first, "message:" + QByteArray("di nuovo").toHex()));
    }

    void productSecondStartReachesTheFirst() {
        QProcess *first = launch(productKey);
        QVERIFY(printed(first, "first\n"));
        QVERIFY(exited(product()));
        QVERIFY(printed(first, "message:\n"));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void productRecoversFromAKilledInstance() {
        QProcess *killed = product();
        QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(nameFor(productKey)), Patience);
        kill(killed);
        QVERIFY(!acceptsConnections(nameFor(productKey)));
        // The next start takes over instead of reporting to nobody, and acknowledges.
        QProcess *first = product();
        QTRY_VERIFY_WITH_TIMEOUT(acceptsConnections(nameFor(productKey)), Patience);
        QVERIFY(exited(product()));
        QCOMPARE(first->state(), QProcess::Running);
        SingleApplication later(productKey, nullptr);
        QVERIFY(later.isRunning());
        QVERIFY(later.sendMessage(""));
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
