#include "document/climigrate.h"

#include "history/historydb.h"
#include "history/storeaddress.h"
#include "history/storemigration.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>

#include <cstdio>

namespace {

enum Exit { Ok = 0, Failed = 1, Usage = 2, NoDatabase = 3 };

const QString SourceConnection = QStringLiteral("kestra-migrate-source");

void err(const QString& text)
{
    std::fputs(("kestra-cli: " + text).toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void progressLine(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

void jsonLine(const QJsonObject& object)
{
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Two texts that name one store: the same file, or the same database on the same server.
bool sameStore(const StoreAddress& a, const StoreAddress& b)
{
    if (a.engine != b.engine)
        return false;
    if (a.engine == StoreAddress::Engine::PostgreSQL)
        return a.host.compare(b.host, Qt::CaseInsensitive) == 0 && a.port == b.port && a.database == b.database;
    const QFileInfo fa(a.path), fb(b.path);
    if (fa.exists() && fb.exists())
        return fa.canonicalFilePath() == fb.canonicalFilePath();
    return fa.absoluteFilePath() == fb.absoluteFilePath();
}

// The source is read through a connection of its own, read-only where the engine allows: the
// migration never writes into it.
bool openSource(const StoreAddress& address, const QString& text, QString* error)
{
    QSqlDatabase db;
    if (address.engine == StoreAddress::Engine::SQLite) {
        if (!QFileInfo(address.path).isFile()) {
            *error = QStringLiteral("no event database at %1").arg(address.path);
            return false;
        }
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), SourceConnection);
        db.setDatabaseName(address.path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), SourceConnection);
        db.setHostName(address.host);
        db.setPort(address.port);
        db.setUserName(address.user);
        db.setDatabaseName(address.database);
        db.setConnectOptions(address.connectOptions());
    }
    if (!db.open()) {
        *error = QStringLiteral("%1 cannot be opened: %2").arg(text, db.lastError().text());
        return false;
    }
    QString problem;
    if (!StoreReader::isEventStore(db, &problem)) {
        *error = QStringLiteral("%1 is not an event database: %2").arg(text, problem);
        return false;
    }
    return true;
}

QString reasonText(const StoreMigration::Step& s)
{
    using Reason = StoreMigration::Step::Reason;
    switch (s.reason) {
    case Reason::Counts:
        return QStringLiteral("the counts differ");
    case Reason::Checksums:
        return QStringLiteral("the checksums differ");
    case Reason::Unmovable:
        return QStringLiteral("%1 events have no exact time, type, alarm or value and cannot be copied")
            .arg(s.unmovable);
    case Reason::Changed:
        return QStringLiteral("a store changed while the days were copied");
    case Reason::Name:
        return QStringLiteral("the name differs");
    case Reason::None:
        break;
    }
    return {};
}

QString reasonKey(StoreMigration::Step::Reason reason)
{
    using Reason = StoreMigration::Step::Reason;
    switch (reason) {
    case Reason::Counts:
        return QStringLiteral("counts");
    case Reason::Checksums:
        return QStringLiteral("checksums");
    case Reason::Unmovable:
        return QStringLiteral("unmovable");
    case Reason::Changed:
        return QStringLiteral("changed");
    case Reason::Name:
        return QStringLiteral("name");
    case Reason::None:
        break;
    }
    return {};
}

void reportText(const StoreMigration::Step& s)
{
    using Kind = StoreMigration::Step::Kind;
    const QString day = QStringLiteral("[%1/%2] %3 %4")
                            .arg(QString::number(s.index), QString::number(s.days), s.day.pagerId, s.day.dateText());
    switch (s.kind) {
    case Kind::Survey:
        progressLine(QStringLiteral("FROM holds %1 events on %2 instrument-days")
                         .arg(QString::number(s.events), QString::number(s.days)));
        break;
    case Kind::Names:
        progressLine(QStringLiteral("%1 instrument names copied").arg(s.copied));
        break;
    case Kind::NameKept:
        progressLine(QStringLiteral("the name of %1 differs and TO keeps its own: %2").arg(s.day.pagerId, s.detail));
        break;
    case Kind::TextMended:
        progressLine(QStringLiteral("%1 %2: %3 events with a NUL or broken UTF-16 character in a text, stored with "
                                    "U+FFFD in its place (the first: %4)")
                         .arg(s.day.pagerId, s.day.dateText(), QString::number(s.copied), s.detail));
        break;
    case Kind::DayCopied:
        progressLine(QStringLiteral("%1: %2 events, %3 copied, verified")
                         .arg(day, QString::number(s.events), QString::number(s.copied)));
        break;
    case Kind::DayPresent:
        progressLine(QStringLiteral("%1: %2 events, already in TO, verified").arg(day, QString::number(s.events)));
        break;
    case Kind::DayMismatch:
        if (s.reason == StoreMigration::Step::Reason::Name)
            progressLine(QStringLiteral("MISMATCH: the name of %1 differs in TO").arg(s.day.pagerId));
        else
            progressLine(QStringLiteral("MISMATCH %1: %2 events in FROM, %3 in TO: %4")
                             .arg(s.index > 0 ? day : s.day.pagerId + u' ' + s.day.dateText(),
                                 QString::number(s.events), QString::number(s.targetEvents), reasonText(s)));
        break;
    case Kind::Finished:
        progressLine(QStringLiteral("checked: %1 events on %2 instrument-days in FROM, %3 of them in TO; %4 "
                                    "mismatches%5")
                         .arg(QString::number(s.events), QString::number(s.days), QString::number(s.targetEvents),
                             QString::number(s.mismatches),
                             s.extraDays > 0 ? QStringLiteral("; TO holds %1 more days of its own").arg(s.extraDays)
                                             : QString()));
        break;
    }
}

void reportJson(const StoreMigration::Step& s)
{
    using Kind = StoreMigration::Step::Kind;
    QJsonObject o;
    switch (s.kind) {
    case Kind::Survey:
        o = { { "step", "survey" }, { "days", s.days }, { "events", s.events } };
        break;
    case Kind::Names:
        o = { { "step", "names" }, { "copied", s.copied } };
        break;
    case Kind::NameKept:
        o = { { "step", "name-kept" }, { "instrument", s.day.pagerId }, { "detail", s.detail } };
        break;
    case Kind::TextMended:
        o = { { "step", "text-mended" }, { "instrument", s.day.pagerId }, { "date", s.day.dateText() },
            { "events", s.copied }, { "first", s.detail } };
        break;
    case Kind::DayCopied:
    case Kind::DayPresent:
    case Kind::DayMismatch:
        o = { { "step", s.reason == StoreMigration::Step::Reason::Name ? "name" : "day" },
            { "instrument", s.day.pagerId }, { "events", s.events }, { "targetEvents", s.targetEvents },
            { "result",
                s.kind == Kind::DayCopied        ? "copied"
                    : s.kind == Kind::DayPresent ? "present"
                                                 : "mismatch" } };
        if (s.reason != StoreMigration::Step::Reason::Name)
            o.insert(QStringLiteral("date"), s.day.dateText());
        if (s.index > 0) {
            o.insert(QStringLiteral("index"), s.index);
            o.insert(QStringLiteral("of"), s.days);
        }
        if (s.kind == Kind::DayCopied)
            o.insert(QStringLiteral("copied"), s.copied);
        if (s.reason != StoreMigration::Step::Reason::None)
            o.insert(QStringLiteral("reason"), reasonKey(s.reason));
        break;
    case Kind::Finished:
        o = { { "step", "finished" }, { "days", s.days }, { "events", s.events }, { "targetEvents", s.targetEvents },
            { "mismatches", s.mismatches }, { "extraDays", s.extraDays }, { "ok", s.mismatches == 0 } };
        break;
    }
    jsonLine(o);
}

int migrate(const QString& from, const QString& to, bool json)
{
    QString error;
    const std::optional<StoreAddress> source = StoreAddress::parse(from, &error);
    if (!source) {
        err(QStringLiteral("FROM: ") + error);
        return Usage;
    }
    const std::optional<StoreAddress> target = StoreAddress::parse(to, &error);
    if (!target) {
        err(QStringLiteral("TO: ") + error);
        return Usage;
    }
    if (sameStore(*source, *target)) {
        err(QStringLiteral("FROM and TO are the same event database"));
        return Usage;
    }
    if (!openSource(*source, from, &error)) {
        err(error);
        return NoDatabase;
    }
    // TO is opened as the program opens its store: made when missing, upgraded when older.
    HistoryStore store; // closed on the way out, before the source's connection goes
    HistoryDb* db = store.open(to, HistoryDb::OpenMode::Create, &error);
    if (!db) {
        err(error.isEmpty() ? QStringLiteral("%1 cannot be opened").arg(to) : error);
        return NoDatabase;
    }
    StoreMigration migration(QSqlDatabase::database(SourceConnection, false), *db,
        [json](const StoreMigration::Step& step) { json ? reportJson(step) : reportText(step); });
    if (migration.run(&error))
        return Ok;
    if (!error.isEmpty())
        err(QStringLiteral("the migration stopped: ") + error);
    else
        err(QStringLiteral("TO does not hold FROM as it is: %1 mismatches").arg(migration.mismatches()));
    return Failed;
}

} // namespace

int runMigrate(const QString& from, const QString& to, bool json)
{
    const int code = migrate(from, to, json);
    if (QSqlDatabase::contains(SourceConnection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(SourceConnection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(SourceConnection);
    }
    return code;
}
