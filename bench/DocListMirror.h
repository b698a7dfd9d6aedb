#pragma once

#include "BenchService.h"
#include "TestHome.h"
#include "storage/Database.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>

#include <cstdio>

// The mirror of a large generated account (100,000 documents with 10 field
// values each), filled by a real login against the local service running as
// a process of its own. The login is done once and its mirror kept in the
// build directory, so the document-list benchmarks do not each pay for
// generating the account and synchronising it.
class DocListMirror {
public:
    static constexpr int kDocuments = 100000;

    // Puts the mirror into `home` and gives the account's profile id.
    static bool install(const TestHome &home, QString *profileId, QString *error) {
        const QString cached = cachePath();
        if (!isComplete(cached) && !login(cached, error))
            return false;
        QDir().mkpath(home.dataDir());
        QFile::remove(home.databaseFile());
        if (!QFile::copy(cached, home.databaseFile())) {
            *error = QStringLiteral("cannot copy the mirror");
            return false;
        }
        QFile::setPermissions(home.databaseFile(), QFile::ReadOwner | QFile::WriteOwner);
        Database database;
        if (!database.open()) {
            *error = QStringLiteral("cannot open the mirror");
            return false;
        }
        {
            QSqlQuery q(database.db);
            q.exec(QStringLiteral("SELECT idbuckets FROM buckets"));
            *profileId = q.next() ? q.value(0).toString() : QString();
        }
        database.close();
        return !profileId->isEmpty();
    }

private:
    static QString cachePath() {
        QString build = qEnvironmentVariable("QUILLORA_BUILD");
        if (build.isEmpty())
            build = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
        QDir().mkpath(build + QStringLiteral("/bench-data"));
        return build + QStringLiteral("/bench-data/doclist-mirror.db");
    }

    static bool isComplete(const QString &path) {
        if (!QFile::exists(path))
            return false;
        bool complete = false;
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
            db.setDatabaseName(path);
            if (db.open()) {
                QSqlQuery q(db);
                complete = q.exec(QStringLiteral("SELECT (SELECT count(*) FROM files), (SELECT "
                                                 "count(*) FROM metadati_values)")) &&
                           q.next() && q.value(0).toInt() == kDocuments &&
                           q.value(1).toInt() == kDocuments * 10;
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("check"));
        return complete;
    }

    static bool login(const QString &cached, QString *error) {
        std::fprintf(stderr, "generating the account and signing in (once)...\n");
        BenchService service;
        if (!service.start({QStringLiteral("bench:bench-password:%1:10:50:10").arg(kDocuments)})) {
            *error = service.errorString();
            return false;
        }
        TestHome home;
        double seconds = 0;
        const bool synced = BenchService::signIn(service.url(), QStringLiteral("bench"),
                                                 QStringLiteral("bench-password"), &seconds);
        std::fprintf(stderr, "login and synchronisation: %.1f s\n", seconds);
        if (QSqlDatabase::contains(QStringLiteral("quilloralite")))
            QSqlDatabase::database(QStringLiteral("quilloralite"), false).close();
        QFile::remove(cached);
        if (!synced || !QFile::copy(home.databaseFile(), cached) || !isComplete(cached)) {
            *error = QStringLiteral("the login did not mirror the generated account");
            return false;
        }
        return true;
    }
};
