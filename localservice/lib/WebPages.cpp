#include "WebPages.h"

#include "ServiceStore.h"

namespace {
const QString kUpdate = QStringLiteral("/vazedo/UpdateService");
const QString kExhibitor = QStringLiteral("/vazedo/Exhibitor");

struct StaticPage {
    const char *path;
    const char *title;
    const char *text;
};

const StaticPage kPages[] = {
    {"/vazedo/Help/", "Guida in linea",
     "Per conservare un documento trascinalo sulla finestra dell'applicazione, scegli la "
     "classe documentale e compila gli indici richiesti."},
    {"/vazedo/BuyQuota/", "Acquista spazio",
     "Per aumentare lo spazio del tuo profilo di conservazione contatta l'ufficio commerciale."},
    {"/vazedo/PasswordRecovery/", "Recupero password",
     "Inserisci il tuo nome utente: riceverai per posta elettronica le istruzioni per "
     "impostare una nuova password."},
    {"/vazedo/Survey/", "Questionario",
     "Grazie per aver usato il servizio di conservazione. Raccontaci la tua esperienza."},
};

QByteArray html(const QString &title, const QString &content) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"it\"><head><meta charset=\"utf-8\">"
                          "<title>%1</title></head><body><h1>%1</h1>%2</body></html>\n")
        .arg(title.toHtmlEscaped(), content)
        .toUtf8();
}

ServiceReply htmlReply(int status, const QString &title, const QString &content) {
    ServiceReply reply;
    reply.httpStatus = status;
    reply.contentType = QByteArrayLiteral("text/html;charset=UTF-8");
    reply.body = html(title, content);
    return reply;
}

ServiceReply exhibition(ServiceStore &store, const QString &code) {
    const PreservedVersion v =
        code.isEmpty() ? PreservedVersion() : store.versionByExhibitCode(code);
    if (!v.isValid())
        return htmlReply(404, QStringLiteral("Esibizione non disponibile"),
                         QStringLiteral("<p>Il codice di esibizione non è valido.</p>"));
    const QString rows = QStringLiteral("<table>"
                                        "<tr><th>File</th><td>%1</td></tr>"
                                        "<tr><th>Impronta</th><td>%2</td></tr>"
                                        "<tr><th>Token di conservazione</th><td>%3</td></tr>"
                                        "<tr><th>Conservato il</th><td>%4</td></tr>"
                                        "<tr><th>Dimensione</th><td>%5 byte</td></tr>"
                                        "</table>")
                             .arg(v.fileName.toHtmlEscaped(), v.hash, v.token.toHtmlEscaped(),
                                  v.tsconserve.toHtmlEscaped())
                             .arg(v.size);
    return htmlReply(200, QStringLiteral("Esibizione del documento conservato"), rows);
}
} // namespace

QStringList WebPages::paths() {
    QStringList all{kUpdate, kExhibitor};
    for (const StaticPage &page : kPages)
        all.append(QString::fromLatin1(page.path));
    return all;
}

ServiceReply WebPages::answer(ServiceStore &store, const QString &path, const QUrlQuery &query) {
    if (path == kUpdate) {
        const QString platform = query.queryItemValue(QStringLiteral("platform")).trimmed();
        if (platform.isEmpty())
            return htmlReply(400, QStringLiteral("Richiesta non valida"),
                             QStringLiteral("<p>Piattaforma non indicata.</p>"));
        ServiceReply reply;
        reply.contentType = QByteArrayLiteral("application/octet-stream");
        reply.body = installerFor(platform);
        reply.headers.append({QByteArrayLiteral("Content-Disposition"),
                              QByteArrayLiteral("attachment; filename=\"setup\"")});
        return reply;
    }
    if (path == kExhibitor)
        return exhibition(store, query.queryItemValue(QStringLiteral("unique_code")));
    for (const StaticPage &page : kPages) {
        if (path == QLatin1String(page.path))
            return htmlReply(
                200, QString::fromUtf8(page.title),
                QStringLiteral("<p>%1</p>").arg(QString::fromUtf8(page.text).toHtmlEscaped()));
    }
    return htmlReply(404, QStringLiteral("Pagina non trovata"), QString());
}

QByteArray WebPages::installerFor(const QString &platform) {
    // Windows gets something shaped like an executable, other platforms a
    // shell script; both only say what they are.
    const QByteArray note = QStringLiteral("Quillora Lite - programma di aggiornamento per la "
                                           "piattaforma %1 (servizio locale)\n")
                                .arg(platform)
                                .toUtf8();
    if (platform == QLatin1String("win"))
        return QByteArrayLiteral("MZ") + QByteArray(62, '\0') + note;
    return QByteArrayLiteral("#!/bin/sh\necho '") + note.trimmed().replace('\'', ' ') +
           QByteArrayLiteral("'\n");
}
