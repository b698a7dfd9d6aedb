#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "TestMain.h"

#include "app/FileDialog.h"
#include "app/UrlOpener.h"
#include "storage/Setting.h"

// The seams every test leans on: nothing unscripted may open, a script must
// match title and text, and a home never leaks into the real one.
class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void unscriptedDialogsFailTheTest() {
        // The failure is the point: expected, so the suite stays green.
        QEXPECT_FAIL("", "an unscripted message box fails the test", Continue);
        QCOMPARE(MessageBox::critical(nullptr, QStringLiteral("Errore"), QStringLiteral("x")),
                 QMessageBox::Cancel);
        QEXPECT_FAIL("", "an unscripted file dialog fails the test", Continue);
        QVERIFY(FileDialog::getSaveFileName(nullptr, QStringLiteral("Salva")).isEmpty());
        QEXPECT_FAIL("", "an unscripted browser opening fails the test", Continue);
        QVERIFY(!UrlOpener::open(QUrl(QStringLiteral("https://example.invalid/"))));
    }

    void scriptMatchesTitleAndTextSeparately() {
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox("Login", "pulizia", QMessageBox::Cancel);
            QCOMPARE(MessageBox::question(nullptr, "Login", "avviare la pulizia?"),
                     QMessageBox::Cancel);
            QCOMPARE(dialogs.boxes().at(0).buttons, QMessageBox::Ok | QMessageBox::Cancel);
        }
        ScriptedDialogs dialogs;
        // A title in the text, or a text in the title, is no match.
        dialogs.expectBox(QStringLiteral("Errore"), QStringLiteral("Errore"));
        QEXPECT_FAIL("", "the text must contain the scripted text", Continue);
        QCOMPARE(MessageBox::critical(nullptr, QStringLiteral("Errore"), QStringLiteral("rete")),
                 QMessageBox::Cancel);
        QVERIFY(dialogs.allAnswered());
    }

    void homeEndsCleanly() {
        const QByteArray outer = qgetenv("XDG_CONFIG_HOME");
        QString mirror;
        {
            TestHome home;
            QVERIFY(qgetenv("XDG_CONFIG_HOME").startsWith(home.path().toLocal8Bit()));
            Setting().setValue(QStringLiteral("lastusername"), QStringLiteral("anna"));
            mirror = home.databaseFile();
            QVERIFY(QFileInfo::exists(mirror));
        }
        QCOMPARE(qgetenv("XDG_CONFIG_HOME"), outer);
        // Outside any home the process's own sandbox takes the writes.
        QVERIFY(QDir::homePath().contains(QStringLiteral("/qp-")));
        Setting().setValue(QStringLiteral("lastusername"), QStringLiteral("bruno"));
        QVERIFY(QFileInfo::exists(QString::fromLocal8Bit(outer) +
                                  QStringLiteral("/QuilloraLite/quilloralite.db")));
    }
};

QUILLORA_TEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
