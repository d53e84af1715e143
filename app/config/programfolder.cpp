#include "config/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

ProgramFolder ProgramFolder::fromArguments(const QStringList& arguments)
{
    return ProgramFolder(resolve(sourcesFromProcess(arguments)));
}

ProgramFolder::ProgramFolder(const QString& folder)
    : m_path(QDir::cleanPath(QDir(folder).absolutePath()))
{
}

bool ProgramFolder::make(QString* error) const
{
    if (!m_path.isEmpty() && QDir().mkpath(m_path))
        return true;
    if (error)
        *error = QCoreApplication::translate("ProgramFolder", "Cannot create the program folder %1")
                     .arg(QDir::toNativeSeparators(m_path));
    return false;
}

QString ProgramFolder::path() const
{
    return m_path + QLatin1Char('/');
}

QString ProgramFolder::filePath(const QString& relative) const
{
    QString r = relative;
    r.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QDir::isAbsolutePath(r))
        return QDir::cleanPath(r);
    return QDir::cleanPath(path() + r);
}

QString ProgramFolder::iniPath() const
{
    return path() + QLatin1String(IniFileName);
}

QString ProgramFolder::logPath() const
{
    return path() + QLatin1String(LogFileName);
}
