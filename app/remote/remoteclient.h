#pragma once

#include "history/historylist.h"
#include "history/historyrec.h"
#include "history/measurements.h"
#include "history/pagerlist.h"
#include "history/userparams.h"

#include <QString>
#include <vector>

// The client side of remote mode. Every request opens a connection of its own in the calling
// thread, sends, reads the reply and closes, so the window, a job thread and the poll thread
// can make requests at the same time.
class RemoteClient {
public:
    // Demanded: the server wants a password and none was given.
    enum class PasswordCheck { Passed, Refused, Demanded, NoAnswer };

    RemoteClient() = default;
    RemoteClient(const QString& host, quint16 port);

    void setServer(const QString& host, quint16 port);
    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    bool valid() const { return !m_host.isEmpty() && m_port != 0; }

    // Why the last request failed: whether the connection could not be made at all (the caller
    // then tells the person), and the socket layer's error.
    bool connectFailed() const { return m_connectFailed; }
    int lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }

    bool loadInstrumentList(CPagerList& list);
    bool dayEvents(const QString& pagerId, const QString& dateText, qint32 queryMode, CHistoryList& list);
    bool readHistory();
    // True whenever the server answered; `values` is filled only when it had a reading.
    bool readMeasurements(CMeasurements& values, bool* read = nullptr);
    PasswordCheck checkPassword(const QString& password);
    bool writeUserParams(const QString& password, const CUserParams& params, PasswordCheck* check = nullptr);
    bool readUserParams(const QString& password, CUserParams& params, PasswordCheck* check = nullptr);
    bool instrumentName(QString& name);
    bool units(bool& roentgen);
    // True when the server answered with its first word set; `busy` tells a running download.
    bool eventsSince(qint64 since, std::vector<ChistoryRec>& events, bool* busy);
    bool updateComment(const ChistoryRec& record);

    // One request on its connection (defined in the source).
    class Exchange;

private:
    QString m_host;
    quint16 m_port = 0;
    bool m_connectFailed = false;
    int m_lastError = 0;
    QString m_lastErrorText;
};
