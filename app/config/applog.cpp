#include "config/applog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace {

// One lock for the path, the switch and the file: lines from several threads never mix, and
// the size rule cannot empty the file under another thread's line.
QMutex g_mutex;
QString g_path;
bool g_on = false;

} // namespace

bool AppLog::start(const QString& path)
{
    QMutexLocker lock(&g_mutex);
    g_path = path;
    g_on = false;
    QFile file(path);
    if (file.exists() && !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    g_on = true;
    return true;
}

void AppLog::stop()
{
    QMutexLocker lock(&g_mutex);
    g_on = false;
}

bool AppLog::isOn()
{
    QMutexLocker lock(&g_mutex);
    return g_on;
}

QString AppLog::path()
{
    QMutexLocker lock(&g_mutex);
    return g_path;
}

QString AppLog::formatLine(const QString& message, const QDateTime& localTime)
{
    return localTime.toString(QStringLiteral("dd.MM.yyyy\thh:mm:ss\t")) + message;
}

void AppLog::write(const QString& message)
{
    QByteArray line = formatLine(message, QDateTime::currentDateTime()).toUtf8();
    line += '\n';

    QMutexLocker lock(&g_mutex);
    if (!g_on)
        return;
    QFile file(g_path);
    QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Append;
    if (file.exists() && file.size() > MaxSize)
        mode = QIODevice::WriteOnly | QIODevice::Truncate;
    if (!file.open(mode))
        return;
    file.write(line);
}
