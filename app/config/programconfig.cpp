#include "config/programconfig.h"

#include "config/inifile.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QTime>

namespace {

const QString General = QStringLiteral("general");
const QString Local = QStringLiteral("local");
const QString Remote = QStringLiteral("remote");

QString tr(const char* text)
{
    return QCoreApplication::translate("ProgramConfig", text);
}

} // namespace

ProgramConfig::ProgramConfig()
{
    timeFromDateNumber(DefaultLastArchivingDate, &lastArchivingTime);
}

int ProgramConfig::dateNumber(qint64 time)
{
    const QDate d = QDateTime::fromSecsSinceEpoch(time, Qt::LocalTime).date();
    return d.year() * 10000 + d.month() * 100 + d.day();
}

bool ProgramConfig::timeFromDateNumber(int number, qint64* time)
{
    const int year = number / 10000;
    const int month = number % 10000 / 100;
    const int day = number % 100;
    if (year < 1900 || year > 9999)
        return false;
    const QDate date(year, month, day); // invalid for months 1-12 with days past the month's end, too
    if (!date.isValid())
        return false;
    *time = QDateTime(date, QTime(0, 0), Qt::LocalTime).toSecsSinceEpoch();
    return true;
}

bool ProgramConfig::load(const QString& path, QStringList* problems)
{
    *this = ProgramConfig();
    iniPath = path;
    QStringList found;
    IniFile ini(path);
    const bool readable = ini.load();
    if (!readable)
        found << ini.errorString();

    language = ini.readInt(General, QStringLiteral("language"), language);
    timeSynchronize = ini.readInt(General, QStringLiteral("time synchronize"), timeSynchronize) != 0;
    localMode = ini.readInt(General, QStringLiteral("is local mode"), localMode) != 0;
    // Files from the other platform write the path with "\".
    databasePath = ini.readString(General, QStringLiteral("DB path"), databasePath);
    databasePath.replace(QLatin1Char('\\'), QLatin1Char('/'));

    const int date = ini.readInt(General, QStringLiteral("last archiving time"), DefaultLastArchivingDate);
    if (!timeFromDateNumber(date, &lastArchivingTime)) {
        timeFromDateNumber(DefaultLastArchivingDate, &lastArchivingTime);
        found << tr("The last archiving time %1 is not a date; 1 February 1990 is used.").arg(date);
    }

    archivingInterval = ini.readInt(General, QStringLiteral("archiving timeout"), archivingInterval);
    passwordDigest = ini.readString(General, QStringLiteral("Initiate command line"));

    port = ini.readString(Local, QStringLiteral("COM port"), port);
    autoDetect = ini.readInt(Local, QStringLiteral("COM port autodetect"), autoDetect) != 0;
    operateAsServer = ini.readInt(Local, QStringLiteral("Is Server"), operateAsServer) != 0;
    const int readPort = ini.readInt(Local, QStringLiteral("server port"), serverPort);
    if (readPort < 1 || readPort > 65535)
        found << tr("The server port %1 is outside 1 to 65535; %2 is used.")
                     .arg(QString::number(readPort), QString::number(serverPort));
    else
        serverPort = readPort;
    downloadingInterval = ini.readInt(Local, QStringLiteral("on-line timeout"), downloadingInterval);
    webServer = ini.readString(Local, QStringLiteral("web server"));

    remoteServer = ini.readString(Remote, QStringLiteral("remote server"));
    int count = ini.readInt(Remote, QStringLiteral("size of list"), 0);
    if (count < 0 || count > MaxServers) {
        found << tr("The server list size %1 is outside 0 to %2; the list is read as empty.")
                     .arg(QString::number(count), QString::number(MaxServers));
        count = 0;
    }
    servers.clear();
    for (int i = 0; i < count; ++i)
        servers << ini.readString(Remote, QStringLiteral("remote%1").arg(i));

    if (problems)
        *problems = found;
    return readable;
}

bool ProgramConfig::save(QString* error) const
{
    IniFile ini(iniPath);
    // Rewriting a file that could not be read would throw away whatever it holds.
    if (iniPath.isEmpty() || !ini.load()) {
        if (error)
            *error = iniPath.isEmpty() ? tr("No settings file is set.") : ini.errorString();
        return false;
    }
    ini.writeInt(General, QStringLiteral("language"), language);
    ini.writeInt(General, QStringLiteral("time Synchronize"), timeSynchronize);
    ini.writeInt(General, QStringLiteral("is local mode"), localMode);
    ini.writeString(General, QStringLiteral("DB path"), databasePath);
    ini.writeInt(General, QStringLiteral("Last Archiving time"), dateNumber(lastArchivingTime));
    ini.writeInt(General, QStringLiteral("Archiving timeout"), archivingInterval);
    ini.writeString(General, QStringLiteral("Initiate command line"), passwordDigest);

    ini.writeString(Local, QStringLiteral("COM port"), port);
    ini.writeInt(Local, QStringLiteral("COM port autodetect"), autoDetect);
    ini.writeInt(Local, QStringLiteral("is Server"), operateAsServer);
    ini.writeInt(Local, QStringLiteral("server port"), serverPort);
    ini.writeInt(Local, QStringLiteral("on-line timeout"), downloadingInterval);
    ini.writeString(Local, QStringLiteral("web server"), webServer);

    ini.writeString(Remote, QStringLiteral("remote Server"), remoteServer);
    ini.writeInt(Remote, QStringLiteral("size of list"), int(servers.size()));
    for (qsizetype i = 0; i < servers.size(); ++i)
        ini.writeString(Remote, QStringLiteral("remote%1").arg(i), servers[i]);

    if (!ini.save()) {
        if (error)
            *error = ini.errorString();
        return false;
    }
    return true;
}
