#include "ServiceFixture.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "UploadMultipart.h"
#include <QCryptographicHash>
#include <QNetworkReply>

// Not the service's rules (the client tests' own) but its doubles, which those rely on.
class TestLocalService : public QObject {
    Q_OBJECT
    ServiceFixture fixture;
    LocalService &service = fixture.service();
    QNetworkAccessManager manager;
    QNetworkReply *post(const QByteArray &body, const QByteArray &type = "text/xml") {
        QNetworkRequest request(fixture.restUrl());
        request.setHeader(QNetworkRequest::ContentTypeHeader, type);
        return manager.post(request, body);
    }
    static int status(QNetworkReply *r) { // at the end; 0: no status line, -1: no end
        if (!r->isFinished() && !QSignalSpy(r, &QNetworkReply::finished).wait(kTimeout))
            return -1;
        return r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }
private slots:
    void init() { service.clearScript(); }
    LocalService::RecordedRequest upload(const QByteArray &data) { // as the service logged it
        QTemporaryFile file;
        if (!file.open() || file.write(data) != data.size() || !file.flush())
            return {};
        QHttpMultiPart *multi = uploadMultipart(envelope("uploadfile"), file.fileName(), "a.pdf");
        multi->setBoundary("XyZ42"); // so that the content holds near misses of the delimiter
        QNetworkReply *reply = manager.post(QNetworkRequest(fixture.restUrl()), multi);
        multi->setParent(reply);
        return status(reply) == 500 ? service.requests().last() : LocalService::RecordedRequest();
    }
    void binaryMultipartBodyArrivesWhole() {
        const QByteArray data = QByteArrayLiteral("\0\r\n\xff\n--XyZ42\r\n--XyZ4\r\n-XyZ42\0\r\n");
        const auto seen = upload(data);
        QCOMPARE(seen.parts.size(), 2);
        QCOMPARE(seen.parts.at(0).body, envelope("uploadfile"));
        QCOMPARE(seen.parts.at(1).body, data);
    }
    void longUploadIsLoggedByItsHeadSizeAndFingerprint() { // a long demo must not grow the log
        QByteArray data(3 * LocalService::kKeptBodyBytes, 'x');
        data[7] = '\0';
        const auto seen = upload(data);
        QCOMPARE(seen.parts.size(), 2);
        QCOMPARE(seen.parts.at(1).body, data.left(LocalService::kKeptBodyBytes));
        QVERIFY(seen.bodySize > data.size() && seen.body.size() == LocalService::kKeptBodyBytes);
        QCOMPARE(seen.fileSha1, QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
    }
    void scriptedStepsTakeTheNextMatchingRequest() {
        service.scriptReply(403, "<html>vietato</html>", "/vazedo/UpdateService", "text/html");
        service.delayReply(1000); // any action
        const QDeadlineTimer held(1000);
        QCOMPARE(status(post(envelope("history"))), 500); // held, then answered as usual
        QVERIFY(held.hasExpired());
        const QUrl update(fixture.baseUrlString() + "/vazedo/UpdateService?platform=win");
        QNetworkReply *page = manager.get(QNetworkRequest(update));
        QCOMPARE(status(page), 403);
        QCOMPARE(page->header(QNetworkRequest::ContentTypeHeader).toString(), "text/html");
        QCOMPARE(page->readAll(), QByteArray("<html>vietato</html>"));
        QCOMPARE(status(manager.get(QNetworkRequest(update))), 200); // used up
    }
    void faultsDropTheConnection() {
        service.injectFault(LocalService::Fault::CloseMidReply, "syncfolder");
        QNetworkReply *cut = post(envelope("syncfolder"));
        QVERIFY(status(cut) >= 0 && cut->error() == QNetworkReply::RemoteHostClosedError);
        QCOMPARE(service.requests().last().httpStatus, 0);
        QCOMPARE(service.requests().last().statusNumber, QStringLiteral("19")); // it still ran
        // Three outlast the access manager's silent resends of an unanswered request.
        service.injectFault(LocalService::Fault::CloseBeforeReply, "syncfolder", 3);
        QCOMPARE(status(post(envelope("syncfolder"))), 0);
        service.scriptReply(200, "x", "syncfolder");
        service.clearScript();
        manager.clearConnectionCache(); // a connection the service dropped may linger in the pool
        QCOMPARE(status(post(envelope("syncfolder"))), 500);
    }
};
QUILLORA_TEST_MAIN(TestLocalService)
#include "tst_localservice.moc"
