#pragma once

#include "remote/remoteprotocol.h"
#include "remote/requesthandler.h"

#include <list>

class CKESTRADoc;

// A server answers each request by running the document's own operation, in local mode, on
// the document's thread.
class DocumentRequestHandler final : public RequestHandler {
public:
    // `keptDays`: how many days that requests loaded stay in the document's memory.
    explicit DocumentRequestHandler(CKESTRADoc& doc, int keptDays = Remote::maxRequestedDays)
        : m_doc(doc)
        , m_keptDays(keptDays)
    {
    }

    const CPagerList& loadInstrumentList() override;
    CHistoryList dayEvents(const QString& pagerId, const QString& dateText, int queryMode) override;
    bool readHistory() override;
    bool readMeasurements(CMeasurements& out) override;
    bool writeUserParams(const CUserParams& params) override;
    bool readUserParams(CUserParams& out) override;
    bool instrumentName(QString& name) override;
    bool units(bool& roentgen) override;
    bool downloadBusy() const override;
    std::vector<ChistoryRec> eventsNewerThan(qint64 since) override;
    bool updateComment(const ChistoryRec& record) override;
    int filterIndex() const override;
    QString passwordDigest() const override;
    void whenIdle(std::function<void()> work) override;

private:
    // A day that a request loaded into the document, with the number of its events then.
    struct RequestedDay {
        QString pagerId;
        qint64 day = 0;
        qsizetype size = 0;
    };
    void keepRequestedDay(const QString& pagerId, qint64 day, bool loadedHere, qsizetype size);

    CKESTRADoc& m_doc;
    const int m_keptDays;
    // Most recently asked first.
    std::list<RequestedDay> m_requestedDays;
};
