#include "document/docstate.h"

#include "device/driverlock.h"
#include "history/viewflags.h"

DocState::DocState(DeviceState& device, ViewFlags& flags)
    : m_device(device)
    , m_flags(flags)
{
}

bool DocState::connected() const
{
    return m_device.connected();
}

void DocState::setConnected(bool connected)
{
    m_device.setConnected(connected);
}

QString DocState::portName() const
{
    return m_device.portName();
}

void DocState::setPortName(const QString& port)
{
    m_device.setPortName(port);
}

bool DocState::unitsRoentgen() const
{
    return m_flags.unitsRoentgen();
}

QString DocState::attachedInstrument() const
{
    std::lock_guard guard(m_textLock);
    return m_attachedInstrument;
}

void DocState::setAttachedInstrument(const QString& identifier)
{
    std::lock_guard guard(m_textLock);
    m_attachedInstrument = identifier;
}

QString DocState::currentInstrument() const
{
    std::lock_guard guard(m_textLock);
    return m_currentInstrument;
}

void DocState::setCurrentInstrument(const QString& identifier)
{
    std::lock_guard guard(m_textLock);
    m_currentInstrument = identifier;
}
