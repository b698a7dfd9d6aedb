#include "TestHome.h"
#include "platform/UserName.h"
#include "platform/WindowFront.h"

#include <QProcess>
#include <QWidget>
#include <QtTest>

// The platform layer as far as it can be seen off Windows.
class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void userNameIsTheEffectiveAccount() {
        const TestHome home;
        QProcess id;
        id.start(QStringLiteral("id"), {QStringLiteral("-un")});
        if (!id.waitForFinished(30000) || id.exitCode() != 0)
            QSKIP("id(1) is not available");
        const QString expected = QString::fromLocal8Bit(id.readAllStandardOutput()).trimmed();
        QCOMPARE(Platform::currentUserName(), expected);
        // The environment does not decide who the user is.
        const QByteArray user = qgetenv("USER");
        qputenv("USER", "qualcun-altro");
        const QString seen = Platform::currentUserName();
        qputenv("USER", user);
        QCOMPARE(seen, expected);
    }

    void bringToFrontShowsAndRestores() {
        const TestHome home;
        QWidget hidden;
        Platform::bringToFront(&hidden);
        QVERIFY(hidden.isVisible());

        QWidget minimised;
        minimised.showMinimized();
        QTRY_VERIFY(minimised.isMinimized());
        Platform::bringToFront(&minimised);
        QTRY_VERIFY(!minimised.isMinimized());
        QVERIFY(minimised.isVisible());
        QVERIFY(!(minimised.windowFlags() & Qt::WindowStaysOnTopHint));

        Platform::bringToFront(nullptr);
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
