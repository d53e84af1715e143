#include "clientroad.h"

#include "remoteclient.h"
#include "remoteprotocol.h"

void ClientRoad::setConnectFailure(ConnectFailure handler)
{
    std::lock_guard lock(m_lock);
    m_connectFailure = std::move(handler);
}

bool ClientRoad::setServer(const QString& serverText)
{
    QString host;
    quint16 port = 0;
    if (!Remote::parseServer(serverText, &host, &port))
        return false;
    std::lock_guard lock(m_lock);
    m_host = host;
    m_port = port;
    return true;
}

bool ClientRoad::run(const std::function<bool(RemoteClient&)>& request)
{
    ConnectFailure failure;
    RemoteClient client;
    {
        std::lock_guard lock(m_lock);
        if (m_host.isEmpty())
            return false;
        client.setServer(m_host, m_port);
        failure = m_connectFailure;
    }
    const bool ok = request(client);
    if (!ok && client.connectFailed() && failure)
        failure(client.lastError());
    return ok;
}

bool ClientRoad::loadInstrumentList(CPagerList& out)
{
    return run([&](RemoteClient& c) { return c.loadInstrumentList(out); });
}

bool ClientRoad::loadDay(const QString& pagerId, const QString& dateText, int queryMode, CHistoryList& out)
{
    return run([&](RemoteClient& c) { return c.dayEvents(pagerId, dateText, queryMode, out); });
}

bool ClientRoad::readHistory()
{
    return run([](RemoteClient& c) { return c.readHistory(); });
}

bool ClientRoad::readMeasurements(CMeasurements& out)
{
    return run([&](RemoteClient& c) { return c.readMeasurements(out); });
}

RemoteRoad::PasswordAnswer ClientRoad::checkPassword(const QString& promptValue)
{
    RemoteClient::PasswordCheck check = RemoteClient::PasswordCheck::NoAnswer;
    run([&](RemoteClient& c) {
        check = c.checkPassword(promptValue);
        return check != RemoteClient::PasswordCheck::NoAnswer;
    });
    switch (check) {
    case RemoteClient::PasswordCheck::Passed:
        return PasswordAnswer::Accepted;
    case RemoteClient::PasswordCheck::Refused:
        return PasswordAnswer::Refused;
    case RemoteClient::PasswordCheck::NoAnswer:
        break;
    }
    return PasswordAnswer::Unreachable;
}

bool ClientRoad::readUserParams(CUserParams& out, const QString& promptValue)
{
    return run([&](RemoteClient& c) { return c.readUserParams(promptValue, out); });
}

bool ClientRoad::writeUserParams(const CUserParams& params, const QString& promptValue)
{
    return run([&](RemoteClient& c) { return c.writeUserParams(promptValue, params); });
}

bool ClientRoad::instrumentName(QString& name)
{
    return run([&](RemoteClient& c) { return c.instrumentName(name); });
}

bool ClientRoad::units(bool& roentgen)
{
    return run([&](RemoteClient& c) { return c.units(roentgen); });
}

bool ClientRoad::updateComment(const ChistoryRec& record)
{
    return run([&](RemoteClient& c) { return c.updateComment(record); });
}

bool ClientRoad::eventsSince(const QString&, qint64 since, CHistoryList& out, bool& busy)
{
    std::vector<ChistoryRec> events;
    if (!run([&](RemoteClient& c) { return c.eventsSince(since, events, &busy); }))
        return false;
    for (ChistoryRec& r : events)
        out.appendRaw(std::move(r));
    return true;
}
