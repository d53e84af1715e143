#pragma once

#include "remote/requesthandler.h"

class CKESTRADoc;

// A server answers each request by running the document's own operation, in local mode, on
// the document's thread.
class DocumentRequestHandler final : public RequestHandler {
public:
    explicit DocumentRequestHandler(CKESTRADoc& doc)
        : m_doc(doc)
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
    CKESTRADoc& m_doc;
};
