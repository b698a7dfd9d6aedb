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
#include <QSharedMemory>

namespace {
constexpr int Patience = 30000;
constexpr auto Complete = FramedMessage::Status::Complete;
using FramedMessage::take;
const QString ProductKey = QString::fromLatin1(SingleApplication::ApplicationKey);

QString takeFrame(QLocalSocket &socket) { // empty when none comes in time
    QString text;
    (void)QTest::qWaitFor([&] { return take(&socket, &text) == Complete; }, Patience);
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
    QList<QProcess *> products;
    const QString productName =
        SingleApplication::serverNameFor(ProductKey, Platform::currentUserName());
    QProcess *launchProduct() {
        products << new QProcess(this);
        // What the product says (a sanitizer's report above all) goes to the test's log.
        products.last()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        products.last()->start(qEnvironmentVariable("QUILLORA_BINARY_DIR") + "/quilloralite", {});
        return products.last();
    }
    static bool exited(QProcess *p) { // looping: this process's instances accept there
        return QTest::qWaitFor([p] { return p->state() == QProcess::NotRunning; }, Patience) &&
               p->exitCode() == 0;
    }

private slots:
    void cleanup() {
        for (QProcess *product : std::as_const(products))
            product->kill(), product->waitForFinished(Patience);
        qDeleteAll(products), products.clear();
        // What a killed product leaves (the last detach destroys a marker); this process's own.
        QSharedMemory(productName).attach(), QLocalServer::removeServer(productName);
        qDeleteAll(qApp->findChildren<QLocalServer *>(Qt::FindDirectChildrenOnly));
        qDeleteAll(qApp->findChildren<QSharedMemory *>(Qt::FindDirectChildrenOnly));
    }

    void serverNamePerUserAndFrameFormat() {
        const QString prefix = "_sa_5C1F7A2E3B8D4E91A6D27F0B9C4E1A36_";
        QCOMPARE(SingleApplication::serverNameFor(ProductKey, "user1"), prefix + "7573657231");
        QCOMPARE(SingleApplication::serverNameFor(ProductKey, "José"), prefix + "4a6f73c3a9");
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
        const QString key = QString::number(QRandomGenerator::global()->generate64());
        const QString name = SingleApplication::serverNameFor(key, Platform::currentUserName());
        if (!greeting.isEmpty()) { // a first instance of something else
            QSharedMemory marker(name);
            QVERIFY(marker.create(1));
            std::unique_ptr<QThread> fake(QThread::create([&] {
                QLocalServer server;
                server.listen(name);
                connect(&server, &QLocalServer::newConnection, [&] {
                    server.nextPendingConnection()->write(FramedMessage::encode(greeting));
                });
                QEventLoop().exec();
            }));
            fake->start();
            QVERIFY(QTest::qWaitFor([&] { return serving(name); }, Patience));
            SingleApplication later(key, nullptr);
            const bool refused = later.isRunning() && !later.sendMessage("ciao");
            fake->quit(), fake->wait();
            QVERIFY(refused);
            return;
        }
        const SingleApplication first(key, nullptr);
        QSignalSpy received(&first, &SingleApplication::messageReceived);
        QLocalSocket hostile, peer;
        QSignalSpy dropped(&hostile, &QLocalSocket::disconnected);
        hostile.connectToServer(first.serverName());
        hostile.write(QByteArray::fromHex(hex));
        QVERIFY(dropped.wait(LocalThread::StallLimitMs + Patience));
        // Others are still served, frames back to back too; the dropped peer reported nothing.
        peer.connectToServer(first.serverName());
        QCOMPARE(takeFrame(peer), first.id());
        peer.write(FramedMessage::encode("avanti") + FramedMessage::encode("è\U0001F600"));
        QCOMPARE(takeFrame(peer) + takeFrame(peer), first.id() + first.id());
        QVERIFY(QTest::qWaitFor([&] { return received.count() == 2; }, Patience));
        QCOMPARE(received, QList<QVariantList>({{"avanti"}, {"è\U0001F600"}}));
    }

    void productSecondStartReachesTheFirst() {
        const SingleApplication first(ProductKey, nullptr);
        QSignalSpy received(&first, &SingleApplication::messageReceived);
        QVERIFY(exited(launchProduct()));
        QVERIFY(received.count() == 1 || received.wait(Patience));
        QCOMPARE(received.first().first(), QVariant(QString()));
    }

    void productAsTheFirstInstance() {
        QProcess *first = nullptr;
        auto startServing = [&] { // and acknowledging what another process sends
            first = launchProduct();
            // Once it listens (else this process takes the marker); asked again under load.
            return QTest::qWaitFor([&] { return serving(productName); }, Patience) &&
                   QTest::qWaitFor(
                       [] {
                           return SingleApplication(ProductKey, nullptr).sendMessage("è\U0001F600");
                       },
                       Patience);
        };
        QVERIFY(startServing());
        QVERIFY(exited(launchProduct()));
        QVERIFY(!SingleApplication(ProductKey, "qualcun-altro", nullptr).isRunning());
        // Killed, it leaves marker and socket file: the next start takes over all the same.
        first->kill();
        QVERIFY(first->waitForFinished(Patience) && !serving(productName));
        QVERIFY(startServing());
        // As after a reboot: the marker is gone, the socket file is not.
        first->kill();
        QVERIFY(first->waitForFinished(Patience));
        QVERIFY(QSharedMemory(productName).attach()); // its detach destroys the marker
        QVERIFY(QFileInfo::exists(QDir::temp().filePath(productName)));
        QVERIFY(startServing());
    }
};

QUILLORA_TEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
