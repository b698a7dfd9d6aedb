#pragma once

#include <QNetworkCookieJar>
#include <QString>

// The signed-in user's session: its cookies and the credentials that renew it
// when it lapses. Every connection that talks for that user shares it, so any
// of them can sign in again, and a changed password reaches them all.
class SessionJar : public QNetworkCookieJar {
    Q_OBJECT
public:
    using QNetworkCookieJar::QNetworkCookieJar;

    QString username;
    QString password;
};
