#include "device/driverlock.h"

#include <QDir>

DeviceState::DeviceState(const QString& programFolder)
    : m_programFolder(programFolder)
{
}

QString DeviceState::portName() const
{
    std::lock_guard guard(m_textLock);
    return m_portName;
}

void DeviceState::setPortName(const QString& port)
{
    std::lock_guard guard(m_textLock);
    m_portName = port;
}

QString DeviceState::driverLogFolder() const
{
    std::lock_guard guard(m_textLock);
    return m_driverLogFolder.isEmpty() ? m_programFolder : m_driverLogFolder;
}

void DeviceState::setDriverLogFolder(const QString& folder)
{
    std::lock_guard guard(m_textLock);
    m_driverLogFolder = folder;
}

QString DeviceState::spoolFolder() const
{
    return QDir(m_programFolder).filePath(QStringLiteral("Spool"));
}

std::recursive_mutex& DeviceState::driverLock() const
{
    static std::recursive_mutex lock;
    return lock;
}
