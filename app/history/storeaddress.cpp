#include "history/storeaddress.h"

#include <QCoreApplication>
#include <QUrl>
#include <QUrlQuery>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("StoreAddress", text);
}

} // namespace

bool StoreAddress::isServerAddress(const QString& text)
{
    const QString t = text.trimmed();
    return t.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        || t.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

std::optional<StoreAddress> StoreAddress::parse(const QString& text, QString* error)
{
    QString scratch;
    if (!error)
        error = &scratch;
    error->clear();
    StoreAddress a;
    if (!isServerAddress(text)) {
        if (text.trimmed().isEmpty()) {
            *error = tr("No event database is given");
            return std::nullopt;
        }
        a.path = text;
        return a;
    }
    a.engine = Engine::PostgreSQL;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    // Neither the text nor the parser's report (which quotes the text) is repeated: the text
    // might hold the password.
    if (!url.isValid()) {
        *error = tr("The database address is not a valid address (check the port number, and that it holds no "
                    "spaces or other characters an address cannot hold)");
        return std::nullopt;
    }
    if (!url.password().isEmpty() || url.userInfo().contains(QLatin1Char(':'))) {
        *error = tr("The database address holds a password; give the address without it and keep the password in "
                    "the PostgreSQL password file (~/.pgpass or PGPASSFILE) or in PGPASSWORD");
        return std::nullopt;
    }
    const QUrlQuery query(url);
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password")) {
            *error = tr("The database address holds a password; give the address without it and keep the password "
                        "in the PostgreSQL password file (~/.pgpass or PGPASSFILE) or in PGPASSWORD");
            return std::nullopt;
        }
        if (key == QLatin1String("sslmode")) {
            static const QStringList modes = { "disable", "allow", "prefer", "require", "verify-ca", "verify-full" };
            if (!modes.contains(value)) {
                *error = tr("The database address has an unknown sslmode: %1").arg(value);
                return std::nullopt;
            }
            a.sslMode = value;
        } else if (key == QLatin1String("connect_timeout")) {
            bool ok = false;
            a.connectTimeout = value.toInt(&ok);
            if (!ok || a.connectTimeout < 1 || a.connectTimeout > 3600) {
                *error = tr("The database address has a connect_timeout that is not 1 to 3600 seconds: %1").arg(value);
                return std::nullopt;
            }
        } else {
            *error = tr("The database address has a setting this program does not take: %1").arg(key);
            return std::nullopt;
        }
    }
    a.user = url.userName(QUrl::FullyDecoded);
    a.host = url.host(QUrl::FullyDecoded);
    if (a.host.isEmpty()) {
        *error = tr("The database address names no server");
        return std::nullopt;
    }
    a.port = url.port(5432);
    if (a.port < 1) {
        *error = tr("The database address has no valid port");
        return std::nullopt;
    }
    a.database = url.path(QUrl::FullyDecoded);
    if (a.database.startsWith(QLatin1Char('/')))
        a.database.remove(0, 1);
    if (a.database.isEmpty() || a.database.contains(QLatin1Char('/'))) {
        *error = tr("The database address names no database (postgresql://user@host:port/database)");
        return std::nullopt;
    }
    return a;
}

QString StoreAddress::connectOptions() const
{
    QString options = QStringLiteral("connect_timeout=%1").arg(connectTimeout);
    if (!sslMode.isEmpty())
        options += QStringLiteral(";sslmode=") + sslMode;
    return options;
}
