#include "document/docstate.h"

#include "device/driverlock.h"
#include "history/viewflags.h"

DocState& DocState::instance()
{
    static DocState state;
    return state;
}

bool DocState::connected() const
{
    return DeviceState::connected();
}

void DocState::setConnected(bool connected)
{
    DeviceState::setConnected(connected);
}

QString DocState::portName() const
{
    return DeviceState::portName();
}

void DocState::setPortName(const QString& port)
{
    DeviceState::setPortName(port);
}

bool DocState::unitsRoentgen() const
{
    return ViewFlags::instance().unitsRoentgen();
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
