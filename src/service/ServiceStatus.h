#pragma once

#include <QString>

// Status numbers of the service's replies, as text: receivers compare the
// status of an answer with the number of their own action.
inline const QString STATUS_NETWORK_ERROR = QStringLiteral("-1");
inline const QString STATUS_LOGIN_KO = QStringLiteral("0");
inline const QString STATUS_LOGIN_OK = QStringLiteral("1");
inline const QString STATUS_SYNC_FOLDER_OK = QStringLiteral("5");
inline const QString STATUS_SESSION_EXPIRED = QStringLiteral("19");
inline const QString STATUS_VALIDATION_KO = QStringLiteral("20");
inline const QString STATUS_HISTORY_OK = QStringLiteral("29");
inline const QString STATUS_UPDATE_REQUIRED = QStringLiteral("31");
inline const QString STATUS_UPDATE_FAILED = QStringLiteral("32");
inline const QString STATUS_CHANGE_PWD_KO = QStringLiteral("37");
inline const QString STATUS_CHANGE_PWD_OK = QStringLiteral("38");
inline const QString STATUS_EXHIBITOR_OK = QStringLiteral("40");
