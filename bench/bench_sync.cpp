// Synchronisation of the mirror at scale: a login whose reply carries a large
// generated account, from the post to syncCategorieOK(), beside sqlite3
// inserting the same rows from an SQL file in one transaction.
#include "BenchService.h"
#include "TestHome.h"
#include "service/ClientInfo.h"
#include "service/MirrorSync.h"
#include "service/ReplyEnvelope.h"
#include "storage/Database.h"

#include <QApplication>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkReply>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QXmlStreamReader>

#include <cstdio>

namespace {

const QString kUser = QStringLiteral("bench");
const QString kPassword = QStringLiteral("bench-password");
// 100,000 documents with 10 values each, 500 classes of 10 fields.
const QString kAccount = QStringLiteral("bench:bench-password:100000:10:500:10");

[[noreturn]] void die(const QString &message) {
    std::fprintf(stderr, "bench_sync: %s\n", qPrintable(message));
    std::exit(1);
}

// The same login body the client sends, posted without the client, to keep
// the reply for the measurements that follow.
QByteArray fetchLoginReply(const QString &url, const QByteArray &body) {
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(url + QStringLiteral("/vazedo/RestService")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
    QNetworkReply *reply = manager.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray data = reply->readAll();
    delete reply;
    return data;
}

QString sqlText(const QStringView value) {
    QString out = value.toString();
    out.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QString sqlNumber(const QStringView value) {
    return QString::number(value.toInt(nullptr, 10));
}

// The rows of a synchronisation body as SQL, for the sqlite3 peer: the
// mirror's schema, then in one transaction every row, the search index filled
// in bulk and its triggers, so that the peer ends with the same file.
bool writeSql(const QByteArray &reply, const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&file);
    QStringList triggers;
    {
        Database schema;
        schema.open();
        QSqlQuery q(schema.db);
        // Full-text tables make their own shadow tables (the quoted names).
        q.exec(QStringLiteral("SELECT type, sql FROM sqlite_master WHERE sql NOT NULL AND name != "
                              "'settings' AND name NOT LIKE 'sqlite_%' AND sql NOT LIKE "
                              "'CREATE TABLE ''%' ORDER BY rowid"));
        while (q.next()) {
            if (q.value(0).toString() == QLatin1String("trigger"))
                triggers << q.value(1).toString();
            else
                out << q.value(1).toString() << ";\n";
        }
        q.finish();
        schema.close();
    }
    out << "BEGIN;\n";
    QXmlStreamReader xml(reply);
    bool inBody = false;
    int folderDepth = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (xml.name() == QLatin1String("folder"))
                --folderDepth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        const QXmlStreamAttributes a = xml.attributes();
        if (name == QLatin1String("body")) {
            inBody = true;
        } else if (!inBody) {
            continue;
        } else if (name == QLatin1String("bucket")) {
            out << "INSERT INTO buckets VALUES (" << sqlText(a.value(QLatin1String("id"))) << ","
                << sqlText(a.value(QLatin1String("description"))) << ","
                << sqlText(a.value(QLatin1String("quota"))) << ","
                << sqlText(a.value(QLatin1String("used"))) << ","
                << sqlText(a.value(QLatin1String("unit"))) << ","
                << sqlText(a.value(QLatin1String("div"))) << ");\n";
        } else if (name == QLatin1String("policie")) {
            out << "INSERT INTO policies VALUES (" << sqlText(a.value(QLatin1String("policie")))
                << "," << sqlText(a.value(QLatin1String("idbucket"))) << ","
                << sqlText(a.value(QLatin1String("description"))) << ");\n";
        } else if (name == QLatin1String("folder")) {
            ++folderDepth;
            out << "INSERT INTO folders VALUES (" << sqlNumber(a.value(QLatin1String("id"))) << ","
                << sqlText(a.value(QLatin1String("name"))) << ","
                << sqlText(a.value(QLatin1String("groups"))) << ","
                << sqlText(a.value(QLatin1String("custom"))) << ","
                << sqlText(a.value(QLatin1String("idbuckets"))) << ","
                << sqlText(a.value(QLatin1String("idpolicies"))) << ");\n";
        } else if (name == QLatin1String("metadato") && folderDepth > 0) {
            out << "INSERT INTO metadati VALUES ("
                << sqlNumber(a.value(QLatin1String("idmetadato"))) << ","
                << sqlNumber(a.value(QLatin1String("idfolder"))) << ","
                << sqlText(a.value(QLatin1String("name"))) << ","
                << sqlNumber(a.value(QLatin1String("type"))) << ","
                << sqlNumber(a.value(QLatin1String("visible"))) << ","
                << sqlNumber(a.value(QLatin1String("required"))) << ","
                << sqlNumber(a.value(QLatin1String("custom"))) << ");\n";
        } else if (name == QLatin1String("file")) {
            out << "INSERT OR REPLACE INTO files VALUES ("
                << sqlText(a.value(QLatin1String("hash"))) << ","
                << sqlText(a.value(QLatin1String("hash4k"))) << ","
                << sqlText(a.value(QLatin1String("last_modified"))) << ","
                << sqlText(a.value(QLatin1String("filename"))) << ","
                << sqlText(a.value(QLatin1String("token"))) << ","
                << sqlNumber(a.value(QLatin1String("idfolder"))) << ","
                << sqlText(a.value(QLatin1String("username"))) << ","
                << sqlText(a.value(QLatin1String("tsupdate"))) << ","
                << sqlText(a.value(QLatin1String("idbuckets"))) << ","
                << sqlText(a.value(QLatin1String("tsconserve"))) << ","
                << sqlText(a.value(QLatin1String("computer_name"))) << ");\n";
        } else if (name == QLatin1String("metadatoValue")) {
            out << "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES ("
                << sqlText(a.value(QLatin1String("key"))) << ","
                << sqlText(a.value(QLatin1String("value"))) << ","
                << sqlText(a.value(QLatin1String("hash"))) << ");\n";
        }
    }
    out << "INSERT INTO search_files (rowid, computer_name, fullpath) "
           "SELECT rowid, computer_name, fullpath FROM files;\n"
           "INSERT INTO search_values (rowid, value) SELECT id, value FROM metadati_values;\n";
    for (const QString &trigger : std::as_const(triggers))
        out << trigger << ";\n";
    out << "COMMIT;\n";
    out.flush();
    return !xml.hasError() && file.error() == QFile::NoError;
}

double runSqlite(const QString &sqlPath, const QString &dbPath) {
    QProcess sqlite;
    sqlite.setStandardInputFile(sqlPath);
    sqlite.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer timer;
    timer.start();
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), dbPath});
    if (!sqlite.waitForFinished(30 * 60 * 1000) || sqlite.exitCode() != 0)
        die(QStringLiteral("sqlite3 failed"));
    return timer.nsecsElapsed() / 1e9;
}

QString count(const char *table) {
    Database database;
    database.open();
    QSqlQuery q(database.db);
    q.exec(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
    const QString n = q.next() ? q.value(0).toString() : QStringLiteral("?");
    q.finish();
    database.close();
    return n;
}

} // namespace

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    BenchService service;
    QElapsedTimer setup;
    setup.start();
    if (!service.start({kAccount}))
        die(service.errorString());
    std::fprintf(stderr, "bench_sync: account generated in %.0f s\n", setup.elapsed() / 1000.0);

    // 1. The client: post to syncCategorieOK(), and the process's peak RSS.
    double seconds = 0;
    double peakMb = 0;
    std::pair<double, double> residentMb;
    double blockedMs = 0;
    double againSeconds = 0;
    QByteArray loginBody;
    {
        TestHome home;
        const bool synced =
            BenchService::signIn(service.url(), kUser, kPassword, &seconds, &peakMb, &residentMb,
                                 &blockedMs);
        if (!synced)
            die(QStringLiteral("the login did not synchronise the mirror"));
        if (count("files") != QStringLiteral("100000") ||
            count("metadati_values") != QStringLiteral("1000000") ||
            count("folders") != QStringLiteral("500") ||
            count("metadati") != QStringLiteral("5000"))
            die(QStringLiteral("the mirror does not hold the generated account"));
        // The same user again, into the mirror that holds the account.
        if (!BenchService::signIn(service.url(), kUser, kPassword, &againSeconds))
            die(QStringLiteral("the second login did not synchronise the mirror"));
        loginBody =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login"
                           "</action><username>%1</username><password>%2</password>"
                           "<forceLogin>1</forceLogin><codesync>0.0</codesync><version>"
                           "%3</version><platform>%4</platform></request>")
                .arg(kUser, kPassword, ClientInfo::version(), ClientInfo::platform())
                .toUtf8();
    }

    // 2. Where the time goes, each timed alone on the same reply: the tree
    // of its envelope (what the receivers get), then the mirror written while
    // the whole reply is parsed.
    QElapsedTimer fetchTimer;
    fetchTimer.start();
    const QByteArray reply = fetchLoginReply(service.url(), loginBody);
    const double fetchSeconds = fetchTimer.nsecsElapsed() / 1e9;
    double parseSeconds = 0;
    double insertSeconds = 0;
    {
        TestHome home;
        QElapsedTimer timer;
        timer.start();
        QDomDocument document;
        bool overLimits = false;
        if (!document.setContent(ReplyEnvelope::strip(reply, &overLimits)))
            die(QStringLiteral("the reply has no envelope"));
        parseSeconds = timer.nsecsElapsed() / 1e9;
        MirrorSync mirror;
        Database().open(); // the schema is made before the clock starts
        timer.restart();
        if (!mirror.applyReply(reply))
            die(QStringLiteral("the mirror refused the reply"));
        insertSeconds = timer.nsecsElapsed() / 1e9;
    }

    // 3. The peer: sqlite3 inserting the same rows in one transaction.
    QTemporaryDir scratch;
    double sqliteSeconds = 0;
    {
        TestHome home;
        const QString sql = scratch.filePath(QStringLiteral("sync.sql"));
        if (!writeSql(reply, sql))
            die(QStringLiteral("cannot write the SQL file"));
        sqliteSeconds = runSqlite(sql, scratch.filePath(QStringLiteral("peer.db")));
    }

    std::printf("sync: %.2f s (sqlite3: %.2f s, ratio %.2f)\n", seconds, sqliteSeconds,
                seconds / sqliteSeconds);
    std::printf("sync-returning-user: %.2f s (sqlite3: %.2f s, ratio %.2f)\n", againSeconds,
                sqliteSeconds, againSeconds / sqliteSeconds);
    std::printf("sync-peak-rss: %.0f MB (limit: 400 MB, ratio %.2f)\n", peakMb, peakMb / 400.0);
    std::printf("sync-rss-after: %.0f MB (before the login: %.0f MB, %.0f MB more)\n",
                residentMb.second, residentMb.first, residentMb.second - residentMb.first);
    std::printf("sync-gui-blocked: %.0f ms at most (the whole sign-in: %.0f ms)\n", blockedMs,
                seconds * 1000);
    std::printf("sync-envelope: %.2f s (sqlite3: %.2f s, ratio %.2f)\n", parseSeconds,
                sqliteSeconds, parseSeconds / sqliteSeconds);
    std::printf("sync-write: %.2f s (sqlite3: %.2f s, ratio %.2f)\n", insertSeconds, sqliteSeconds,
                insertSeconds / sqliteSeconds);
    std::printf("sync-reply: %.1f MB (service and transfer alone: %.2f s)\n",
                reply.size() / 1048576.0, fetchSeconds);
    return 0;
}
