// Requests of other programs through the real wire format, signed in once: the three commands,
// senders that are slow, silent, oversized or many, the socket's place and life, and the command
// line that other programs call.
#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "TestMain.h"
#include "app/ExternalMessage.h"
#include "app/SingleApplication.h"
#include "mainwindow/CoreMain.h"
#include "platform/LocalServerName.h"
#include "preservation/ConservaFileDialog.h"
#include "service/LoginDialog.h"

#include <QtNetwork>
#include <QtWidgets>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString serverPath() {
    return Platform::localServerName(QString::fromLatin1(SingleApplication::ApplicationKey));
}

QString xml(const QString &command, const QString &parameter) {
    return ExternalMessage::request(command, parameter);
}

// Connects, writes `bytes` and hangs up at once, as a small helper program would.
bool send(const QByteArray &bytes) {
    QLocalSocket socket;
    socket.connectToServer(serverPath());
    if (!socket.waitForConnected(5000))
        return false;
    socket.write(bytes);
    socket.disconnectFromServer();
    return socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(5000);
}

} // namespace

class TestExternal : public QObject {
    Q_OBJECT
    SignedInSession s;
    QTemporaryDir files;

    CoreMain &w() { return *s.window; }
    QString file(const char *name) {
        const QString path = files.filePath(QLatin1String(name));
        QFile out(path);
        if (out.open(QIODevice::WriteOnly))
            out.write("contenuto " + QByteArray(name));
        return path;
    }
    static bool closeWizard(ConservaFileDialog *wizard, const QString &title) {
        ScriptedDialogs dialogs;
        dialogs.expectBox(title, "annullare", QMessageBox::Ok);
        QPointer<ConservaFileDialog> alive(wizard);
        wizard->close();
        return QTest::qWaitFor([&] { return !alive || !alive->isVisible(); }, kTimeout) &&
               dialogs.allAnswered();
    }

private slots:
    void initTestCase() { QVERIFY(s.start()); }

    void commands_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("boxTitle"); // empty: a wizard opens
        QTest::addColumn<QString>("boxText");
        const QString plain = file("fattura.txt");
        QTest::newRow("conserva") << xml("conserva", plain) << "" << "";
        // The first command and parameter1 wherever they stand, the command in any case.
        QTest::newRow("anywhere, upper case")
            << "<x><parameter1>" + plain + "</parameter1><y><command>CONSERVA</command></y>"
               "<command>esibisci</command></x>"
            << "" << "";
        QTest::newRow("conserva of a folder")
            << xml("conserva", files.path()) << "Conservazione file" << "solo un file leggibile";
        QTest::newRow("conserva of a device")
            << xml("conserva", "/dev/null") << "Conservazione file" << "solo un file leggibile";
        QTest::newRow("conserva of nothing") << xml("conserva", files.filePath("manca.txt"))
                                             << "Conservazione file" << "solo un file leggibile";
        QTest::newRow("rettifica of a file never preserved")
            << xml("rettifica", plain) << "Rettifica file" << "Errore durante la rettifica";
    }
    void commands() {
        QFETCH(QString, message);
        QFETCH(QString, boxTitle);
        QFETCH(QString, boxText);
        s.service().clearRequests();
        if (!boxTitle.isEmpty()) {
            ScriptedDialogs dialogs;
            dialogs.expectBox(boxTitle, boxText);
            QVERIFY(send(ExternalMessage::encode(message)));
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
            QVERIFY(!visibleTopLevel<ConservaFileDialog>());
            return;
        }
        QVERIFY(send(ExternalMessage::encode(message)));
        ConservaFileDialog *wizard = nullptr;
        QVERIFY(QTest::qWaitFor([&] { return wizard = visibleTopLevel<ConservaFileDialog>(); },
                                kTimeout));
        QVERIFY(wizard->windowTitle().startsWith("Conservazione del file fattura.txt"));
        // While it is open, another request meets the guard.
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox("Conservazione file", "un altro processo di conservazione");
            QVERIFY(send(ExternalMessage::encode(xml("conserva", file("altra.txt")))));
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        }
        QVERIFY(closeWizard(wizard, "Conservazione file"));
    }

    // A replacement asked for the file a document was preserved from.
    void rettificaOfAPreservedFile() {
        const QString path = file("contratto.txt");
        const int classId = s.account.classIds.first();
        const QList<int> &fields = s.account.fieldIds.value(classId);
        s.fixture.store().preserve(s.account.user, classId, path, "prima versione",
                                   {{fields[0], "R/1"}, {fields[2], "01/02/2013"}});
        w().syncCategorie();
        QVERIFY(s.synchronised());
        QVERIFY(send(ExternalMessage::encode(xml("rettifica", path))));
        ConservaFileDialog *wizard = nullptr;
        QVERIFY(QTest::qWaitFor([&] { return wizard = visibleTopLevel<ConservaFileDialog>(); },
                                kTimeout));
        QVERIFY(wizard->windowTitle().startsWith("Rettifica del file contratto.txt"));
        QVERIFY(wizard->isModal());
        QVERIFY(QTest::qWaitFor([&] { return !s.service().requests("sostituiscifile").isEmpty(); },
                                kTimeout));
        QVERIFY(QTest::qWaitFor([&] {
            return child<QTabWidget>(wizard, "tabUpload")->currentIndex() ==
                   ConservaFileDialog::FieldsPage;
        }, kTimeout));
        QVERIFY(closeWizard(wizard, "Rettifica file"));
    }

    // One message per connection: a second one on it is never read.
    void exhibitionAndOneMessagePerConnection() {
        const PreservedVersion first = s.account.documents.at(0);
        const PreservedVersion second = s.account.documents.at(1);
        s.service().clearRequests();
        RecordedUrls urls;
        QVERIFY(send(ExternalMessage::encode(xml("esibisci", first.token)) +
                     ExternalMessage::encode(xml("esibisci", second.token))));
        QVERIFY(QTest::qWaitFor([&] { return !urls.urls().isEmpty(); }, kTimeout));
        QCOMPARE(urls.urls().first().toString(),
                 s.fixture.baseUrlString() + "/vazedo/Exhibitor?unique_code=" + first.exhibitCode);
        // A later request has come through after whatever the second would have caused.
        ScriptedDialogs dialogs;
        dialogs.expectBox("Conservazione file", "solo un file leggibile");
        QVERIFY(send(ExternalMessage::encode(xml("conserva", files.path()))));
        QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        QCOMPARE(s.service().requests("getexhibitorconfig").size(), 1);
        QCOMPARE(urls.urls().size(), 1);
    }

    // Silent, oversized, odd and half-sent connections, more of them than are kept at once: each
    // is closed, the window's loop keeps turning, and a later request is still carried out.
    void hostileSenders() {
        QElapsedTimer sinceTick;
        qint64 longestGapMs = 0;
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            longestGapMs = qMax(longestGapMs, sinceTick.restart());
            ++ticks;
        });
        sinceTick.start();
        tick.start(20);

        std::vector<std::unique_ptr<QLocalSocket>> senders;
        const auto open = [&](const QByteArray &bytes) {
            senders.push_back(std::make_unique<QLocalSocket>());
            senders.back()->connectToServer(serverPath());
            QVERIFY(senders.back()->waitForConnected(5000));
            if (!bytes.isEmpty()) {
                senders.back()->write(bytes);
                QVERIFY(senders.back()->waitForBytesWritten(5000));
            }
        };
        open(QByteArray::fromHex("7fffffff"));         // 2 GiB announced
        open(QByteArray::fromHex("00000003") + "abc"); // odd: no UTF-16
        open(QByteArray::fromHex("00000064") + QByteArray(10, 'a')); // a tenth, then silence
        for (int i = 0; i < 40; ++i)
            open(QByteArray());
        const auto closed = [&](size_t index) {
            return senders[index]->state() == QLocalSocket::UnconnectedState;
        };
        QTRY_VERIFY_WITH_TIMEOUT(closed(0) && closed(1), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(senders.begin(), senders.end(),
                                             [](const auto &socket) {
                                                 return socket->state() ==
                                                        QLocalSocket::UnconnectedState;
                                             }),
                                 3 * 5000);
        QVERIFY(ticks > 50);
        QVERIFY2(longestGapMs < 1000, qPrintable(QString::number(longestGapMs)));

        ScriptedDialogs dialogs;
        dialogs.expectBox("Conservazione file", "solo un file leggibile");
        QVERIFY(send(ExternalMessage::encode(xml("conserva", files.path()))));
        QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
    }

    // The command line hands a request to the signed-in client and says when there is none.
    void commandLine() {
        const QString program = qEnvironmentVariable("QUILLORA_BINARY_DIR") + "/quilloralite";
        const auto run = [&](const QStringList &arguments, QByteArray *err = nullptr) {
            QProcess process;
            process.start(program, arguments);
            if (!process.waitForStarted() ||
                !QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; },
                                 kTimeout))
                return -100;
            if (err)
                *err = process.readAllStandardError();
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -200;
        };
        const PreservedVersion doc = s.account.documents.at(2);
        {
            RecordedUrls urls;
            QCOMPARE(run({"--esibisci", doc.token}), 0);
            QVERIFY(QTest::qWaitFor([&] { return !urls.urls().isEmpty(); }, kTimeout));
            QVERIFY(urls.urls().first().toString().endsWith("unique_code=" + doc.exhibitCode));
        }
        QCOMPARE(run({"--esibisci", "uno", "--rettifica", "due"}), 2);

        QVERIFY(s.signOut());
        QByteArray err;
        QCOMPARE(run({"--esibisci", doc.token}, &err), 1);
        QVERIFY2(err.contains("nessun utente ha effettuato l'accesso"), err.constData());
        QVERIFY(s.signIn());
    }

    // Signed out nobody listens, and a request that still comes brings the login forward only; a
    // socket left by a killed client does not stop the next one; the socket is the user's own.
    void signedOutAndStaleSocket() {
        QVERIFY(s.signOut());
        QLocalSocket probe;
        probe.connectToServer(serverPath());
        QVERIFY(!probe.waitForConnected(2000));
        w().parseExternalMessage(xml("conserva", file("dopo.txt")));
        QVERIFY(visibleTopLevel<LoginDialog>());
        QVERIFY(!visibleTopLevel<ConservaFileDialog>());

        // What a killed client leaves: a socket file nobody accepts on.
        const QByteArray path = QFile::encodeName(serverPath());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QVERIFY(size_t(path.size()) < sizeof address.sun_path);
        memcpy(address.sun_path, path.constData(), size_t(path.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(serverPath()));

        QVERIFY(s.signIn());
        const QFileInfo socketFile(serverPath());
        QCOMPARE(socketFile.permissions() & (QFile::ReadGroup | QFile::WriteGroup |
                                             QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());
        QCOMPARE(QFileInfo(socketFile.path()).permissions() & 0x0077, QFile::Permissions());
        ScriptedDialogs dialogs;
        dialogs.expectBox("Conservazione file", "solo un file leggibile");
        QVERIFY(send(ExternalMessage::encode(xml("conserva", files.path()))));
        QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
    }
};

QUILLORA_TEST_MAIN(TestExternal)
#include "tst_external.moc"
