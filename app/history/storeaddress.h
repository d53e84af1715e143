#pragma once

#include <QString>

#include <optional>

// Where the event database lives: a SQLite file (any text that is not a server address), or a
// PostgreSQL database named by an address postgresql://user@host:port/database. An address
// never carries the password: libpq finds it in ~/.pgpass, the file PGPASSFILE names, or
// PGPASSWORD, so that no settings file ever holds it.
struct StoreAddress {
    enum class Engine { SQLite, PostgreSQL };

    Engine engine = Engine::SQLite;
    QString path; // the file (SQLite)
    QString user; // empty: libpq's default (PGUSER, then the login name)
    QString host;
    int port = 5432;
    QString database;
    QString sslMode; // empty: libpq's default
    int connectTimeout = 10; // seconds

    // True when text is meant as a server address (postgresql:// or postgres://), whether or
    // not it is a valid one.
    static bool isServerAddress(const QString& text);
    // The store that text names, or nothing with a description in *error: a server address
    // with a password, without a server or a database, or with parts libpq does not take here.
    static std::optional<StoreAddress> parse(const QString& text, QString* error = nullptr);

    // The connection options of the Qt PostgreSQL driver for this address.
    QString connectOptions() const;
};
