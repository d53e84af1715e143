#pragma once

#include "document/documentsource.h"

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

class CKESTRADoc;
class RemoteClient;

// The document's operations through a station ("<host>:<port>"): one request per operation,
// each on a connection of its own made in the calling thread, so the document's thread, a job
// thread and the poll thread may ask at the same time. A request that cannot reach the server
// is reported to the document, which tells the person.
class StationSource final : public DocumentSource {
public:
    StationSource(CKESTRADoc& doc, SourceSupport& support)
        : m_doc(doc)
        , m_support(support)
    {
    }

    // Takes the server text; false when it names no host and port (requests then fail quietly).
    bool setServer(const QString& serverText);
    bool usable() const { return m_usable.load(); }
    QString serverText() const;

    QString title(bool connected, const QString& name) const override;
    bool loadInstrumentList(CPagerList& list) override;
    bool loadDay(const QString& pagerId, const QString& dateText, int queryMode, CPagerList& out) override;
    bool readHistory() override;
    bool readMeasurements(CMeasurements& out) override;
    bool readUserParams(CUserParams& params) override;
    bool writeUserParams(const CUserParams& params) override;
    bool instrumentName(QString& name) override;
    bool units() override;
    bool updateComment(const ChistoryRec& record) override;
    // The station's current instrument's events newer than since; busy receives
    // the station's download flag. Called by the poll thread.
    bool eventsSince(qint64 since, CHistoryList& out, bool& busy);

private:
    // Runs one request on a client of its own; a failure to connect is reported.
    bool run(const std::function<bool(RemoteClient&)>& request);
    // run, as a job when made on the document's thread (the window does not wait for the
    // station); from another thread, or while another job runs, at once.
    bool runAside(const QString& progressText, const std::function<bool(RemoteClient&)>& request);
    // The password the station accepts, asking the person until it does; false when they
    // cancel or the station cannot be reached.
    bool password(QString& value);

    CKESTRADoc& m_doc;
    SourceSupport& m_support;
    mutable std::mutex m_lock;
    QString m_serverText;
    QString m_host;
    quint16 m_port = 0;
    std::atomic<bool> m_usable { false };
    QString m_password; // kept for the run; cleared when the station refuses it
};
