#include "TestMain.h"

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "app/UrlOpener.h"

#include <QDir>
#include <QSettings>

void failOnUnscriptedBoxes() {
    MessageBox::setHandler([](QWidget *, const MessageBox::Request &r) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted message box: \"%1\" / \"%2\"")
                                    .arg(r.title, r.text)),
                     __FILE__, __LINE__);
        return QMessageBox::Cancel;
    });
}

void failOnUnscriptedFiles() {
    FileDialog::setHandler([](QWidget *, const FileDialog::Request &r) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted file dialog: \"%1\"").arg(r.caption)),
                     __FILE__, __LINE__);
        return QString();
    });
}

void failOnUnscriptedUrls() {
    UrlOpener::setHandler([](const QUrl &url) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted browser opening: ") + url.toString()),
                     __FILE__, __LINE__);
        return false;
    });
}

void installFailingDialogs() {
    failOnUnscriptedBoxes();
    failOnUnscriptedFiles();
    failOnUnscriptedUrls();
}

ProcessSandbox::ProcessSandbox()
    : m_dir(QDir::tempPath() + QStringLiteral("/qp-XXXXXX")) {
    if (!m_dir.isValid())
        return;
    const QString config = m_dir.filePath(QStringLiteral("config"));
    QDir().mkpath(config);
    qputenv("HOME", m_dir.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    // No developer's own keychain is ever touched: there is a session bus
    // only under the private keyring's wrapper, and none otherwise.
    if (qgetenv("QUILLORA_TEST_KEYRING") != qgetenv("DBUS_SESSION_BUS_ADDRESS") ||
        qgetenv("QUILLORA_TEST_KEYRING").isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS",
                "unix:path=" + m_dir.filePath(QStringLiteral("no-session-bus")).toLocal8Bit());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
}
