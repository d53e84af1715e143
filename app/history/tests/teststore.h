#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

// The stores a suite works on. The suite runs once per engine: with KESTRA_TEST_ENGINE=postgresql
// every store is a new database on the server that KESTRA_TEST_PG names (a throwaway cluster
// of scripts/pg-test-cluster); otherwise a SQLite file in a temporary folder.
class TestStores {
public:
    TestStores()
        : m_server(qgetenv("KESTRA_TEST_ENGINE") == "postgresql")
        , m_admin(QString::fromLocal8Bit(qgetenv("KESTRA_TEST_PG")))
    {
    }

    bool server() const { return m_server; }
    // False (with a failed check) when the engine the suite was asked for is not there.
    bool ready() const { return m_dir.isValid() && (!m_server || !m_admin.isEmpty()); }
    QString folder() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    // The location of a new, empty store called name: a file path, or the address of a
    // database made (anew) for it.
    QString make(const QString& name)
    {
        if (!m_server)
            return m_dir.filePath(name + QStringLiteral(".db"));
        QString database = QStringLiteral("kt_") + name.toLower();
        for (QChar& c : database) {
            if (!c.isLetterOrNumber())
                c = QLatin1Char('_');
        }
        exec(m_admin,
            { QStringLiteral("DROP DATABASE IF EXISTS %1").arg(database),
                QStringLiteral("CREATE DATABASE %1").arg(database) });
        QUrl url(m_admin);
        url.setPath(QLatin1Char('/') + database);
        return url.toString();
    }

    // Runs statements on the store at location through a connection of its own, as another
    // program would. Returns false (after a failed check) when one is rejected.
    static bool exec(const QString& location, const QStringList& statements)
    {
        bool ok = true;
        {
            QSqlDatabase db = connect(location);
            QSqlQuery q(db);
            for (const QString& statement : statements) {
                if (!q.exec(statement)) {
                    qWarning("%s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
                    ok = false;
                    break;
                }
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("teststore-raw"));
        return ok;
    }

private:
    static QSqlDatabase connect(const QString& location)
    {
        const QUrl url(location);
        const bool server = url.scheme() == QLatin1String("postgresql");
        QSqlDatabase db = QSqlDatabase::addDatabase(
            server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), QStringLiteral("teststore-raw"));
        if (server) {
            db.setHostName(url.host());
            db.setPort(url.port(5432));
            db.setUserName(url.userName());
            db.setDatabaseName(url.path().mid(1));
        } else {
            db.setDatabaseName(location);
        }
        if (!db.open())
            qWarning("%s: %s", qPrintable(location), qPrintable(db.lastError().text()));
        return db;
    }

    bool m_server;
    QString m_admin;
    QTemporaryDir m_dir;
};
