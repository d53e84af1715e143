#include "config/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex g_mutex;
QString g_folder; // clean absolute path, no trailing "/"; empty until fixed

bool fix(const QString& folder, QString* error)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    if (!QDir().mkpath(clean)) {
        if (error)
            *error = QCoreApplication::translate("ProgramFolder", "Cannot create the program folder %1")
                         .arg(QDir::toNativeSeparators(clean));
        return false;
    }
    QMutexLocker lock(&g_mutex);
    g_folder = clean;
    return true;
}

} // namespace

QString ProgramFolder::homeOption(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--home") && i + 1 < arguments.size())
            return arguments[i + 1];
        if (a.startsWith(QLatin1String("--home=")))
            return a.mid(7);
    }
    return {};
}

ProgramFolder::Sources ProgramFolder::sourcesFromProcess(const QStringList& arguments)
{
    Sources s;
    s.homeOption = homeOption(arguments);
    s.homeVariable = qEnvironmentVariable("KESTRA_HOME");
    if (QCoreApplication::instance())
        s.executableFolder = QCoreApplication::applicationDirPath();
    else if (!arguments.isEmpty())
        s.executableFolder = QFileInfo(arguments.first()).absolutePath();
    s.xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
    s.userHome = QDir::homePath();
    return s;
}

QString ProgramFolder::resolve(const Sources& s)
{
    const auto clean = [](const QString& p) { return QDir::cleanPath(QDir(p).absolutePath()); };
    if (!s.homeOption.isEmpty())
        return clean(s.homeOption);
    if (!s.homeVariable.isEmpty())
        return clean(s.homeVariable);
    if (!s.executableFolder.isEmpty() && QFileInfo(QDir(s.executableFolder).filePath(IniFileName)).isFile())
        return clean(s.executableFolder);
    // A relative XDG_DATA_HOME is invalid and is ignored, as the base-directory rules say.
    if (!s.xdgDataHome.isEmpty() && QDir::isAbsolutePath(s.xdgDataHome))
        return clean(s.xdgDataHome + QLatin1String("/kestra"));
    return clean(s.userHome + QLatin1String("/.local/share/kestra"));
}

bool ProgramFolder::initialise(const QStringList& arguments, QString* error)
{
    return fix(resolve(sourcesFromProcess(arguments)), error);
}

bool ProgramFolder::setPath(const QString& folder, QString* error)
{
    return fix(folder, error);
}

QString ProgramFolder::path()
{
    {
        QMutexLocker lock(&g_mutex);
        if (!g_folder.isEmpty())
            return g_folder + QLatin1Char('/');
    }
    const QStringList arguments = QCoreApplication::instance() ? QCoreApplication::arguments() : QStringList();
    const QString folder = resolve(sourcesFromProcess(arguments));
    // When the folder cannot be created, the name is still returned; the first file
    // operation below it then reports the failure.
    fix(folder, nullptr);
    QMutexLocker lock(&g_mutex);
    if (g_folder.isEmpty())
        g_folder = folder;
    return g_folder + QLatin1Char('/');
}

QString ProgramFolder::filePath(const QString& relative)
{
    QString r = relative;
    r.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(r))
        return QDir::cleanPath(r);
    return QDir::cleanPath(path() + r);
}

QString ProgramFolder::iniPath()
{
    return path() + QLatin1String(IniFileName);
}

QString ProgramFolder::logPath()
{
    return path() + QLatin1String(LogFileName);
}
