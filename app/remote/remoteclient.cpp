#include "remote/remoteclient.h"

#include "history/archivestream.h"
#include "remote/remoteprotocol.h"

#include <QTcpSocket>

// One request on a connection of its own.
class RemoteClient::Exchange {
public:
    Exchange(RemoteClient& client, int replyTimeoutMs = Remote::replyTimeoutMs)
        : m_client(client)
        , m_out(&m_pending)
        , m_in(&m_socket)
    {
        m_in.setWaitTimeout(replyTimeoutMs);
        client.m_connectFailed = false;
        client.m_lastError = 0;
        client.m_lastErrorText.clear();
        m_socket.connectToHost(client.m_host, client.m_port);
        if (!m_socket.waitForConnected(Remote::replyTimeoutMs)) {
            client.m_connectFailed = true;
            fail();
        }
    }
    ~Exchange() { m_socket.abort(); }

    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    StreamWriter& out() { return m_out; }
    StreamReader& in() { return m_in; }

    // Sends what was written so far.
    void flush()
    {
        if (m_pending.isEmpty())
            return;
        const QByteArray bytes = m_pending;
        m_pending.clear();
        if (m_socket.write(bytes) != bytes.size())
            throw StreamError(StreamError::Kind::Device, "the request could not be sent");
        while (m_socket.bytesToWrite() > 0) {
            if (!m_socket.waitForBytesWritten(Remote::replyTimeoutMs))
                throw StreamError(StreamError::Kind::Device, "the request could not be sent");
        }
    }

    // The password check at the start of requests 4, 5 and 11.
    PasswordCheck password(const QString& value)
    {
        flush();
        const qint32 first = m_in.readInt32();
        if (first == 1)
            return PasswordCheck::Passed;
        if (first != 0)
            return PasswordCheck::Refused;
        // An empty text matches no password a station has; it is not sent, so that it is not
        // counted against this computer as a wrong guess.
        if (value.isEmpty())
            return PasswordCheck::Demanded;
        m_out.writeText(value);
        flush();
        return m_in.readInt32() == 1 ? PasswordCheck::Passed : PasswordCheck::Refused;
    }

    void fail()
    {
        m_client.m_lastError = static_cast<int>(m_socket.error());
        m_client.m_lastErrorText = m_socket.errorString();
    }

private:
    RemoteClient& m_client;
    QTcpSocket m_socket;
    QByteArray m_pending;
    StreamWriter m_out;
    StreamReader m_in;
};

namespace {

// Runs one request; a broken or malformed reply is a failure, never a crash.
template <typename Body> bool request(RemoteClient::Exchange& exchange, Body body)
{
    if (!exchange.connected())
        return false;
    try {
        return body(exchange);
    } catch (const StreamError&) {
        exchange.fail();
        return false;
    }
}

} // namespace

RemoteClient::RemoteClient(const QString& host, quint16 port)
    : m_host(host)
    , m_port(port)
{
}

void RemoteClient::setServer(const QString& host, quint16 port)
{
    m_host = host;
    m_port = port;
}

bool RemoteClient::loadInstrumentList(CPagerList& list)
{
    Exchange exchange(*this);
    return request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::LoadInstruments);
        x.flush();
        CPagerList received;
        received.read(x.in());
        list = std::move(received);
        return true;
    });
}

bool RemoteClient::dayEvents(const QString& pagerId, const QString& dateText, qint32 queryMode, CHistoryList& list)
{
    Exchange exchange(*this);
    return request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::DayEvents);
        x.out().writeText(pagerId);
        x.out().writeText(dateText);
        x.out().writeInt32(queryMode);
        x.flush();
        CHistoryList received;
        received.read(x.in());
        list = std::move(received);
        return true;
    });
}

bool RemoteClient::readHistory()
{
    Exchange exchange(*this, Remote::historyReplyTimeoutMs);
    return request(exchange, [](Exchange& x) {
        x.out().writeInt32(Remote::ReadHistory);
        x.flush();
        return x.in().readInt32() != 0;
    });
}

bool RemoteClient::readMeasurements(CMeasurements& values, bool* read)
{
    if (read)
        *read = false;
    Exchange exchange(*this);
    return request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::ReadMeasurements);
        x.flush();
        if (x.in().readInt32() != 0) {
            CMeasurements received;
            received.read(x.in());
            values = received;
            if (read)
                *read = true;
        }
        return true;
    });
}

RemoteClient::PasswordCheck RemoteClient::checkPassword(const QString& password)
{
    Exchange exchange(*this);
    PasswordCheck check = PasswordCheck::NoAnswer;
    request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::CheckPassword);
        check = x.password(password);
        return true;
    });
    return check;
}

bool RemoteClient::writeUserParams(const QString& password, const CUserParams& params, PasswordCheck* check)
{
    Exchange exchange(*this);
    PasswordCheck result = PasswordCheck::NoAnswer;
    bool ok = request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::WriteUserParams);
        result = x.password(password);
        if (result != PasswordCheck::Passed)
            return false;
        params.write(x.out());
        x.flush();
        return x.in().readInt32() != 0;
    });
    if (check)
        *check = result;
    return ok;
}

bool RemoteClient::readUserParams(const QString& password, CUserParams& params, PasswordCheck* check)
{
    Exchange exchange(*this);
    PasswordCheck result = PasswordCheck::NoAnswer;
    bool ok = request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::ReadUserParams);
        result = x.password(password);
        if (result != PasswordCheck::Passed || x.in().readInt32() == 0)
            return false;
        CUserParams received;
        received.read(x.in());
        params = received;
        return true;
    });
    if (check)
        *check = result;
    return ok;
}

bool RemoteClient::instrumentName(QString& name)
{
    Exchange exchange(*this);
    return request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::InstrumentName);
        x.flush();
        if (x.in().readInt32() == 0)
            return false;
        name = x.in().readText();
        return true;
    });
}

bool RemoteClient::units(bool& roentgen)
{
    Exchange exchange(*this);
    return request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::Units);
        x.flush();
        if (x.in().readInt32() == 0)
            return false;
        roentgen = x.in().readBool();
        return true;
    });
}

bool RemoteClient::eventsSince(qint64 since, std::vector<ChistoryRec>& events, bool* busy)
{
    if (busy)
        *busy = false;
    Exchange exchange(*this);
    return request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::EventsSince);
        x.out().writeTime(since);
        x.flush();
        if (x.in().readInt32() == 0)
            return false;
        const bool serverBusy = x.in().readInt32() != 0;
        if (busy)
            *busy = serverBusy;
        if (serverBusy)
            return true;
        const qint32 count = x.in().readInt32();
        x.in().checkCount(count, ChistoryRec::minStreamSize);
        std::vector<ChistoryRec> received;
        // Records are taken as they arrive; nothing is reserved on the peer's word.
        for (qint32 i = 0; i < count; ++i) {
            ChistoryRec record;
            record.read(x.in());
            received.push_back(std::move(record));
        }
        events = std::move(received);
        return true;
    });
}

bool RemoteClient::updateComment(const ChistoryRec& record)
{
    Exchange exchange(*this);
    return request(exchange, [&](Exchange& x) {
        x.out().writeInt32(Remote::UpdateComment);
        record.write(x.out());
        x.flush();
        return x.in().readInt32() != 0;
    });
}
