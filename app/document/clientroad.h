#pragma once

#include "documentui.h"

#include <QString>

#include <functional>
#include <mutex>

class RemoteClient;

// The document's remote road over the request protocol. Each call opens a connection of its own
// in the calling thread, so the document's thread, a job thread and the poll thread may call at
// the same time.
class ClientRoad final : public RemoteRoad {
public:
    // Told when a request could not reach the server at all, with the socket layer's error.
    using ConnectFailure = std::function<void(int error)>;
    void setConnectFailure(ConnectFailure handler);

    bool setServer(const QString& serverText) override;
    bool loadInstrumentList(CPagerList& out) override;
    bool loadDay(const QString& pagerId, const QString& dateText, int queryMode, CHistoryList& out) override;
    bool readHistory() override;
    bool readMeasurements(CMeasurements& out) override;
    PasswordAnswer checkPassword(const QString& promptValue) override;
    bool readUserParams(CUserParams& out, const QString& promptValue) override;
    bool writeUserParams(const CUserParams& params, const QString& promptValue) override;
    bool instrumentName(QString& name) override;
    bool units(bool& roentgen) override;
    bool updateComment(const ChistoryRec& record) override;
    bool eventsSince(const QString& pagerId, qint64 since, CHistoryList& out, bool& busy) override;

private:
    // Runs one request on a client of its own and reports a failure to connect.
    bool run(const std::function<bool(RemoteClient&)>& request);

    mutable std::mutex m_lock;
    QString m_host;
    quint16 m_port = 0;
    ConnectFailure m_connectFailure;
};
