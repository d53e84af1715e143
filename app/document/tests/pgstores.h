#pragma once

// Stores for the tests that need a PostgreSQL server: scripts/pg-test-cluster starts a
// throwaway one and names it in KESTRA_TEST_PG (the password is in libpq's PGPASSWORD).
#include "history/historyrec.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <tuple>
#include <vector>

namespace pgstores {

// The address of a new, empty database of that name on the test server, or an empty text with
// the reason in *error.
inline QString createDatabase(const QString& name, QString* error)
{
    const QString server = qEnvironmentVariable("KESTRA_TEST_PG");
    const qsizetype slash = server.lastIndexOf(u'/');
    if (server.isEmpty() || slash < 0) {
        *error = QStringLiteral("KESTRA_TEST_PG is not set: run the test under scripts/pg-test-cluster");
        return {};
    }
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("pgstores-admin"));
        admin.setDatabaseName(QStringLiteral("postgres")); // host, port, user, password: libpq's variables
        if (!admin.open()) {
            *error = admin.lastError().text();
        } else {
            QSqlQuery q(admin);
            if (!q.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name))
                || !q.exec(QStringLiteral("CREATE DATABASE %1").arg(name)))
                *error = q.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("pgstores-admin"));
    return error->isEmpty() ? server.left(slash + 1) + name : QString();
}

// Every row of History as the program reads it (a missing comment is a blank), in the order of
// the uniqueness rule: two stores hold the same events when these are equal.
using Row = std::tuple<QString, qint64, int, int, double, double, int, int, QString, QString, double>;
inline std::vector<Row> rows(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    std::vector<Row> result;
    if (!q.exec(
            QStringLiteral("SELECT hPagerID, hDateTime, hType, hAlarm, hValue, hValue2, hPrecision, hVariation, "
                           "hComment, hID, hDate FROM History ORDER BY hPagerID, hDateTime, hType, hAlarm, hValue")))
        return result;
    while (q.next()) {
        result.emplace_back(q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toInt(), q.value(3).toInt(),
            q.value(4).toDouble(), q.value(5).toDouble(), q.value(6).toInt(), q.value(7).toInt(),
            q.value(8).isNull() ? QStringLiteral(" ") : q.value(8).toString(), q.value(9).toString(),
            q.value(10).toDouble());
    }
    std::sort(result.begin(), result.end());
    return result;
}

// A connection of the test's own to a file or to a database of the test server.
inline QSqlDatabase open(const QString& connection, const QString& store)
{
    const bool server = store.startsWith(QStringLiteral("postgresql://"));
    QSqlDatabase db
        = QSqlDatabase::addDatabase(server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(server ? store.section(u'/', -1) : store);
    db.open();
    return db;
}

} // namespace pgstores
