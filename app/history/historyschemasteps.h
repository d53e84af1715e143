#pragma once

// The steps both engines' preparations share: a statement that must succeed, and the end of
// the one transaction that makes or upgrades a store.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

namespace HistorySchema {

inline QString tr(const char* text)
{
    return QCoreApplication::translate("HistorySchema", text);
}

struct Failure {
    QString text;
};

inline void run(QSqlQuery& q, const QString& statement)
{
    if (!q.exec(statement))
        throw Failure { q.lastError().text() };
}

// Ends the preparation's transaction: commits, or throws.
inline void commit(QSqlDatabase& db, QSqlQuery& q)
{
    q.finish();
    if (!db.commit())
        throw Failure { db.lastError().text() };
}

// Rolls the preparation back and says why in *error: where names the store; upgrade, that it
// had event tables already. Returns false.
inline bool rolledBack(
    QSqlDatabase& db, QSqlQuery& q, const QString& where, bool upgrade, const Failure& failure, QString* error)
{
    q.finish();
    db.rollback();
    *error = upgrade
        ? tr("%1 could not be upgraded to the current layout and is left as it was: %2").arg(where, failure.text)
        : tr("The event tables could not be made in %1: %2").arg(where, failure.text);
    return false;
}

} // namespace HistorySchema
