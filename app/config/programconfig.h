#pragma once

#include <QString>
#include <QStringList>

// The settings of the application that survive a restart, kept in the INI file of the program
// folder. The program's context holds one, loaded when the context is made; the settings
// dialogs, the password dialogs and the document change its fields and save it whole. Only the
// user-interface thread uses it.
class ProgramConfig {
public:
    // Last archiving time of a fresh installation: 1 February 1990, as a YYYYMMDD date.
    static constexpr int DefaultLastArchivingDate = 19900201;
    static constexpr int DefaultServerPort = 3133;
    // Bound on "size of list": a larger count is a damaged file, not a list of servers.
    static constexpr int MaxServers = 1000;

    int language = 0; // 0 English, 1 Russian
    QString port = QStringLiteral("COM1");
    bool autoDetect = true; // find the bridge port at each initialisation
    int downloadingInterval = 60; // seconds
    QStringList servers; // "<servername>:<port>" entries known to the user
    bool localMode = true; // false: remote mode
    bool timeSynchronize = true; // set the instrument clock when the link comes up
    bool operateAsServer = true;
    QString remoteServer; // "<servername>:<port>" used in remote mode
    int serverPort = DefaultServerPort;
    // Where the station's read-only web server listens: "[ADDRESS:]PORT" (loopback without an
    // address); empty: no web server.
    QString webServer;
    QString databasePath = QStringLiteral("DB/DataBase.db"); // below the program folder
    int archivingInterval = 0; // months, 0 = off
    qint64 lastArchivingTime; // seconds since 1970; local midnight of the day
    QString passwordDigest; // empty = no password

    // Path of the INI file the object was loaded from and is saved to.
    QString iniPath;

    // Defaults of a fresh installation, iniPath empty.
    ProgramConfig();

    // Resets every field to its default and reads the file. Missing keys keep their defaults;
    // an unreadable or oversized file leaves every default. Values that cannot be used (a last
    // archiving time that is not a date, a server port outside 1 to 65535, a server count
    // outside 0 to MaxServers) fall back as documented and are described in *problems.
    // Returns false only when the file exists but could not be read.
    bool load(const QString& path, QStringList* problems = nullptr);
    // Writes every field to iniPath, keeping the file's other lines.
    bool save(QString* error = nullptr) const;

    // YYYYMMDD of the local date of a time, as stored in the file.
    static int dateNumber(qint64 time);
    // Local midnight of a YYYYMMDD date; false when the number is not a calendar date of the
    // years 1900 to 9999.
    static bool timeFromDateNumber(int number, qint64* time);
};
