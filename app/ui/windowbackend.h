#pragma once

#include "document/documentrequesthandler.h"

#include <functional>

// What the window's server answers with: the document's own operations, and a comment that a
// client changed shows in this window's event list too.
class WindowBackend final : public RequestHandler {
public:
    using CommentChanged = std::function<void(const ChistoryRec& record)>;

    WindowBackend(CKESTRADoc& doc, CommentChanged commentChanged);

    const CPagerList& loadInstrumentList() override { return m_inner.loadInstrumentList(); }
    CHistoryList dayEvents(const QString& pagerId, const QString& dateText, int queryMode) override
    {
        return m_inner.dayEvents(pagerId, dateText, queryMode);
    }
    bool readHistory() override { return m_inner.readHistory(); }
    bool readMeasurements(CMeasurements& out) override { return m_inner.readMeasurements(out); }
    bool writeUserParams(const CUserParams& params) override { return m_inner.writeUserParams(params); }
    bool readUserParams(CUserParams& out) override { return m_inner.readUserParams(out); }
    bool instrumentName(QString& name) override { return m_inner.instrumentName(name); }
    bool units(bool& roentgen) override { return m_inner.units(roentgen); }
    bool downloadBusy() const override { return m_inner.downloadBusy(); }
    std::vector<ChistoryRec> eventsNewerThan(qint64 since) override { return m_inner.eventsNewerThan(since); }
    bool updateComment(const ChistoryRec& record) override;
    QString passwordDigest() const override { return m_inner.passwordDigest(); }
    void whenIdle(std::function<void()> work) override { m_inner.whenIdle(std::move(work)); }

private:
    DocumentRequestHandler m_inner;
    CommentChanged m_commentChanged;
};
