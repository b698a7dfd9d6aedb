#include "TestMain.h"
#include "platform/UserName.h"
#include "platform/WindowFront.h"
#include <QProcess>
#include <QWidget>
class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void userNameIsTheEffectiveAccount() { // whose mirror is opened is not $USER's to say
        QProcess id;
        id.start("id", {"-un"});
        QVERIFY(id.waitForFinished(30000) && id.exitCode() == 0);
        const QByteArray user = qgetenv("USER");
        qputenv("USER", "qualcun-altro");
        const QString seen = Platform::currentUserName();
        qputenv("USER", user);
        QCOMPARE(seen, QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed());
    }
    void bringToFrontShowsAndRestores() {
        QWidget hidden, minimised;
        minimised.showMinimized();
        QTRY_VERIFY(minimised.isMinimized());
        Platform::bringToFront(&hidden);
        Platform::bringToFront(&minimised);
        QTRY_VERIFY(hidden.isVisible() && !minimised.isMinimized() && minimised.isVisible());
        QVERIFY(!(minimised.windowFlags() & Qt::WindowStaysOnTopHint));
    }
};
QUILLORA_TEST_MAIN(TestPlatform)
#include "tst_platform.moc"
