#include "document/stationsource.h"

#include "document/kestradoc.h"
#include "history/messenger.h"
#include "history/viewflags.h"
#include "remote/remoteclient.h"
#include "remote/remoteprotocol.h"

#include <QThread>

bool StationSource::setServer(const QString& serverText)
{
    QString host;
    quint16 port = 0;
    const bool ok = Remote::parseServer(serverText, &host, &port);
    std::lock_guard lock(m_lock);
    m_serverText = serverText;
    m_host = ok ? host : QString();
    m_port = ok ? port : 0;
    m_usable = ok;
    return ok;
}

QString StationSource::serverText() const
{
    std::lock_guard lock(m_lock);
    return m_serverText;
}

QString StationSource::title(bool connected, const QString&) const
{
    const QString app = CKESTRADoc::tr(CKESTRADoc::ApplicationName);
    return connected ? CKESTRADoc::tr("%1 - Remote mode. Connected to server '%2'").arg(app, serverText())
                     : CKESTRADoc::tr("%1 - Remote mode. Not connected").arg(app);
}

bool StationSource::run(const std::function<bool(RemoteClient&)>& request)
{
    RemoteClient client;
    {
        std::lock_guard lock(m_lock);
        if (!m_usable)
            return false;
        client.setServer(m_host, m_port);
    }
    const bool ok = request(client);
    if (!ok && client.connectFailed())
        m_doc.serverUnreachable(client.lastError());
    return ok;
}

bool StationSource::runAside(const QString& progressText, const std::function<bool(RemoteClient&)>& request)
{
    if (QThread::currentThread() != m_doc.thread())
        return run(request);
    bool ok = false;
    m_support.runAside(progressText, [&] { ok = run(request); });
    return ok;
}

bool StationSource::loadInstrumentList(CPagerList& list)
{
    CPagerList incoming;
    if (!run([&](RemoteClient& c) { return c.loadInstrumentList(incoming); }))
        return false;
    list = std::move(incoming);
    return true;
}

bool StationSource::loadDay(const QString& pagerId, const QString& dateText, int queryMode, CPagerList& out)
{
    CHistoryList day;
    if (!run([&](RemoteClient& c) { return c.dayEvents(pagerId, dateText, queryMode, day); }))
        return false;
    CPager& pager = out.findOrCreate(pagerId);
    for (const ChistoryRec& r : day.records())
        pager.addEvent(r); // throws for an event without a local day: the job fails
    return true;
}

bool StationSource::readHistory()
{
    // The station runs its own download; the events come with the next poll.
    QString name;
    if (!instrumentName(name))
        return false;
    m_support.ensureInstrument(name);
    return runAside(CKESTRADoc::tr("History reading"), [](RemoteClient& c) { return c.readHistory(); });
}

bool StationSource::readMeasurements(CMeasurements& out)
{
    return run([&](RemoteClient& c) { return c.readMeasurements(out); });
}

bool StationSource::password(QString& value)
{
    if (!m_usable)
        return false;
    for (;;) {
        if (m_password.isEmpty()) {
            DocumentHost* host = m_doc.host();
            const std::optional<QString> entered = host ? host->promptPassword() : std::nullopt;
            if (!entered || entered->isEmpty())
                return false;
            m_password = *entered;
        }
        RemoteClient::PasswordCheck check = RemoteClient::PasswordCheck::NoAnswer;
        runAside(CKESTRADoc::tr("Checking the password"), [&](RemoteClient& c) {
            check = c.checkPassword(m_password);
            return check != RemoteClient::PasswordCheck::NoAnswer;
        });
        switch (check) {
        case RemoteClient::PasswordCheck::Passed:
            value = m_password;
            return true;
        case RemoteClient::PasswordCheck::NoAnswer:
            return false;
        case RemoteClient::PasswordCheck::Refused:
        case RemoteClient::PasswordCheck::Demanded:
            m_password.clear();
            m_doc.messenger().tell(
                CKESTRADoc::tr("Error!"), CKESTRADoc::tr("Incorrect password!"), Messenger::Icon::Error);
            break;
        }
    }
}

bool StationSource::readUserParams(CUserParams& params)
{
    QString value;
    return password(value) && runAside(CKESTRADoc::tr("Reading instrument settings"), [&](RemoteClient& c) {
        return c.readUserParams(value, params);
    });
}

bool StationSource::writeUserParams(const CUserParams& params)
{
    QString value;
    return password(value) && runAside(CKESTRADoc::tr("Writing instrument settings"), [&](RemoteClient& c) {
        return c.writeUserParams(value, params);
    });
}

bool StationSource::instrumentName(QString& name)
{
    return run([&](RemoteClient& c) { return c.instrumentName(name); });
}

bool StationSource::units()
{
    bool roentgen = false;
    if (!run([&](RemoteClient& c) { return c.units(roentgen); }))
        return false;
    m_doc.context().viewFlags().setUnitsRoentgen(roentgen);
    return true;
}

bool StationSource::updateComment(const ChistoryRec& record)
{
    // A station takes comments from other computers only after a password check that passed:
    // with the password this run already knows, else, when the station wants one, with the
    // person's. A station without a password passes the check at once.
    RemoteClient::PasswordCheck check = RemoteClient::PasswordCheck::NoAnswer;
    runAside(CKESTRADoc::tr("Checking the password"), [&](RemoteClient& c) {
        check = c.checkPassword(m_password);
        return check != RemoteClient::PasswordCheck::NoAnswer;
    });
    if (check == RemoteClient::PasswordCheck::NoAnswer)
        return false;
    if (check != RemoteClient::PasswordCheck::Passed) {
        m_password.clear();
        QString value;
        if (!password(value))
            return false;
    }
    return runAside(CKESTRADoc::tr("Data writing"), [&](RemoteClient& c) { return c.updateComment(record); });
}

bool StationSource::eventsSince(qint64 since, CHistoryList& out, bool& busy)
{
    busy = false;
    std::vector<ChistoryRec> events;
    if (!run([&](RemoteClient& c) { return c.eventsSince(since, events, &busy); }))
        return false;
    for (ChistoryRec& r : events)
        out.appendRaw(std::move(r));
    return true;
}
