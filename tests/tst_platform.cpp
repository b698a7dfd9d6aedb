#include "TestHome.h"
#include "TestMain.h"
#include "platform/UserName.h"
#include "platform/WindowFront.h"

#include <QProcess>
#include <QWidget>

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void userNameIsTheEffectiveAccount() {
        QProcess id;
        id.start(QStringLiteral("id"), {QStringLiteral("-un")});
        QVERIFY(id.waitForFinished(30000) && id.exitCode() == 0);
        const QString expected = QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed();
        // $USER is the user's to change; it must not decide whose data is opened.
        const QByteArray user = qgetenv("USER");
        qputenv("USER", "qualcun-altro");
        const QString seen = Platform::currentUserName();
        qputenv("USER", user);
        QCOMPARE(seen, expected);
    }
    void bringToFrontShowsAndRestores() {
        const TestHome home;
        QWidget hidden, minimised;
        Platform::bringToFront(&hidden);
        QVERIFY(hidden.isVisible());
        minimised.showMinimized();
        QTRY_VERIFY(minimised.isMinimized());
        Platform::bringToFront(&minimised);
        QTRY_VERIFY(!minimised.isMinimized() && minimised.isVisible());
        QVERIFY(!(minimised.windowFlags() & Qt::WindowStaysOnTopHint));
        Platform::bringToFront(nullptr);
    }
};

QUILLORA_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
