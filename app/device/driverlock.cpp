#include "device/driverlock.h"

#include "config/programfolder.h"

namespace {

struct State {
    std::mutex textLock; // guards the texts only; the flag is atomic
    QString portName;
    QString driverLogFolder;
    std::atomic<bool> connected { false };
};

State& state()
{
    static State s;
    return s;
}

} // namespace

std::recursive_mutex& DriverLock::mutex()
{
    static std::recursive_mutex lock;
    return lock;
}

QString DeviceState::portName()
{
    std::lock_guard guard(state().textLock);
    return state().portName;
}

void DeviceState::setPortName(const QString& port)
{
    std::lock_guard guard(state().textLock);
    state().portName = port;
}

bool DeviceState::connected()
{
    return state().connected.load();
}

void DeviceState::setConnected(bool connected)
{
    state().connected.store(connected);
}

QString DeviceState::driverLogFolder()
{
    {
        std::lock_guard guard(state().textLock);
        if (!state().driverLogFolder.isEmpty())
            return state().driverLogFolder;
    }
    return ProgramFolder::path();
}

void DeviceState::setDriverLogFolder(const QString& folder)
{
    std::lock_guard guard(state().textLock);
    state().driverLogFolder = folder;
}
