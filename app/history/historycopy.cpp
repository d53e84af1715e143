#include "history/historydb.h"

#include "history/historyschema.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

// The archive of a server store: a new SQLite store with the same rows, so that an archive is
// the same kind of file whichever engine held the events.
namespace {

struct Failure {
    QString text;
};

void check(bool ok, const QSqlQuery& q)
{
    if (!ok)
        throw Failure { q.lastError().text() };
}

// Copies every row of the columns from the server's table into the file's, in the order read.
void copyTable(QSqlDatabase& from, QSqlDatabase& to, const QString& table, const QStringList& columns)
{
    QSqlQuery read(from);
    // Rows are fetched as they come, not all at once: a large store need not fit in memory.
    read.setForwardOnly(true);
    check(read.exec(QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QStringLiteral(", ")), table)), read);
    QSqlQuery write(to);
    const QString marks = QStringLiteral("?, ").repeated(columns.size() - 1) + QLatin1Char('?');
    check(write.prepare(
              QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, columns.join(QStringLiteral(", ")), marks)),
        write);
    while (read.next()) {
        for (int i = 0; i < columns.size(); ++i)
            write.bindValue(i, read.value(i));
        check(write.exec(), write);
    }
    check(!read.lastError().isValid(), read);
}

} // namespace

bool HistoryDb::copyToFile(const QString& destination, QString* error)
{
    const QString name
        = QStringLiteral("kestra-archive-%1").arg(reinterpret_cast<quintptr>(QThread::currentThreadId()));
    bool ok = false;
    {
        QSqlDatabase file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        file.setDatabaseName(destination);
        QSqlDatabase server = connection();
        try {
            if (!file.open())
                throw Failure { file.lastError().text() };
            if (!HistorySchema::prepare(file, destination, true, error))
                throw Failure { *error };
            if (!file.transaction())
                throw Failure { file.lastError().text() };
            copyTable(server, file, QStringLiteral("History"),
                { "hID", "hType", "hAlarm", "hDate", "hTime", "hValue", "hValue2", "hPrecision", "hVariation",
                    "hComment", "hPagerID", "hDateTime" });
            copyTable(server, file, QStringLiteral("Pagers"), { "pID", "pName" });
            if (!file.commit())
                throw Failure { file.lastError().text() };
            ok = true;
        } catch (const Failure& failure) {
            *error = failure.text;
            file.rollback();
        }
        file.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}
