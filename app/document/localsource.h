#pragma once

#include "document/documentsource.h"

class CKESTRADoc;
class DevWorker;

// The document's operations on this computer: the instrument through the device worker and
// the event database.
class LocalSource final : public DocumentSource {
public:
    LocalSource(CKESTRADoc& doc, SourceSupport& support)
        : m_doc(doc)
        , m_support(support)
    {
    }

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

private:
    CKESTRADoc& m_doc;
    SourceSupport& m_support;
};
