#include "ScriptedDialogs.h"
#include "TestHome.h"

#include <QtTest>

// The dialog seams themselves: scripted answers come back in order and every
// box is recorded with its text format.
class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void scriptedAnswersAndRecording()
    {
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Login"), QMessageBox::Ok);
        dialogs.expectBox(QStringLiteral("pulizia"), QMessageBox::Cancel);
        dialogs.expectFile(QStringLiteral("Scegli"), QStringLiteral("/tmp/x.pdf"));
        QCOMPARE(MessageBox::critical(nullptr, QStringLiteral("Login"), QStringLiteral("<b>x</b>")),
                 QMessageBox::Ok);
        QCOMPARE(MessageBox::question(nullptr, QString(), QStringLiteral("avviare la pulizia?")),
                 QMessageBox::Cancel);
        QCOMPARE(FileDialog::getOpenFileName(nullptr, QStringLiteral("Scegli un file")),
                 QStringLiteral("/tmp/x.pdf"));
        QVERIFY(dialogs.allAnswered());
        QCOMPARE(dialogs.boxes().size(), 2);
        QCOMPARE(dialogs.boxes().at(0).icon, QMessageBox::Critical);
        QCOMPARE(dialogs.boxes().at(0).format, Qt::PlainText);
        QCOMPARE(dialogs.boxes().at(1).buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(dialogs.boxes().at(1).defaultButton, QMessageBox::Ok);
    }

    void homeIsPrivateAndRestored()
    {
        const QByteArray before = qgetenv("XDG_CONFIG_HOME");
        {
            TestHome home;
            QVERIFY(qgetenv("XDG_CONFIG_HOME").startsWith(home.path().toLocal8Bit()));
            QCOMPARE(qgetenv("HOME"), home.path().toLocal8Bit());
            QVERIFY(QFileInfo(home.configHome()).isDir());
        }
        QCOMPARE(qgetenv("XDG_CONFIG_HOME"), before);
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
