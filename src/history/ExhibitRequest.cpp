#include "history/ExhibitRequest.h"

#include "app/MessageBox.h"
#include "app/UrlOpener.h"
#include "history/Exhibitor.h"
#include "service/QVWConn.h"
#include "service/ServiceStatus.h"
#include "storage/Setting.h"

#include <QUrl>
#include <QUrlQuery>

namespace {

const QString kTitle = QStringLiteral("Esibisci file");
const QString kFailure = QStringLiteral("Si è verificato un errore durante l'esibizione del file: ");

} // namespace

ExhibitRequest::ExhibitRequest(QVWConn *conn, Exhibitor *waiting, bool tellNetworkError,
                               QWidget *window)
    : QObject(window)
    , m_conn(conn)
    , m_waiting(waiting)
    , m_tellNetworkError(tellNetworkError)
    , m_window(window) {}

void ExhibitRequest::send(const QString &token) {
    m_token = token;
    esibisciFile();
}

void ExhibitRequest::esibisciFile() {
    if (m_token.isEmpty())
        return;
    m_waiting->setModal(true);
    m_waiting->show();
    follow(true);
    m_body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>"
                            "getexhibitorconfig</action><token>%1</token></request>")
                 .arg(m_token)
                 .toUtf8();
    m_conn->request().setHeader(QNetworkRequest::ContentTypeHeader,
                                QStringLiteral("text/xml;charset=UTF-8"));
    m_conn->setDownloadMode(false);
    m_conn->sendRequest(&m_body);
}

void ExhibitRequest::onGetUrlExhibitorSuccesful(const QDomElement &body, const QString &status) {
    m_waiting->hide();
    follow(false);
    if (status != STATUS_EXHIBITOR_OK)
        return;
    const QString code = body.elementsByTagName(QStringLiteral("exhibitor"))
                             .item(0)
                             .toElement()
                             .elementsByTagName(QStringLiteral("unique_code"))
                             .item(0)
                             .toElement()
                             .attribute(QStringLiteral("value"));
    if (code.isEmpty()) {
        MessageBox::critical(m_window, kTitle,
                             kFailure + QStringLiteral("il servizio non ha indicato il codice "
                                                       "dell'esibizione"));
        return;
    }
    QUrl page(Setting().value(QStringLiteral("url")) + QStringLiteral("/vazedo/Exhibitor"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("unique_code"),
                       QString::fromLatin1(QUrl::toPercentEncoding(code)));
    page.setQuery(query);
    UrlOpener::openOrTell(m_window, page);
}

void ExhibitRequest::onGetUrlExhibitorFailure(const QString &message, const QString &status) {
    m_waiting->hide();
    follow(false);
    MessageBox::critical(m_window, kTitle, kFailure + message);
    if (m_tellNetworkError && status == STATUS_NETWORK_ERROR)
        MessageBox::critical(m_window, QStringLiteral("Errore"), message);
}

void ExhibitRequest::follow(bool on) {
    disconnect(m_conn, &QVWConn::commandFailure, this, &ExhibitRequest::onGetUrlExhibitorFailure);
    disconnect(m_conn, &QVWConn::commandSuccessful, this,
               &ExhibitRequest::onGetUrlExhibitorSuccesful);
    disconnect(m_conn, &QVWConn::retry, this, &ExhibitRequest::esibisciFile);
    if (!on)
        return;
    connect(m_conn, &QVWConn::commandFailure, this, &ExhibitRequest::onGetUrlExhibitorFailure);
    connect(m_conn, &QVWConn::commandSuccessful, this,
            &ExhibitRequest::onGetUrlExhibitorSuccesful);
    connect(m_conn, &QVWConn::retry, this, &ExhibitRequest::esibisciFile);
}
