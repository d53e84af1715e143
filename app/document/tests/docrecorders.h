#pragma once

#include "document/documentui.h"
#include "history/localtime.h"
#include "history/messenger.h"
#include "history/pager.h"

#include <QStringList>

#include <mutex>

// Stand-ins for the window: they record what the document asks of them.
class RecordingMessenger final : public Messenger {
public:
    int ask(const QString& caption, const QString& text, int, Icon) override
    {
        std::lock_guard guard(m_lock);
        questions << caption + u'|' + text;
        return answer;
    }
    void tell(const QString& caption, const QString& text, Icon) override
    {
        std::lock_guard guard(m_lock);
        messages << caption + u'|' + text;
    }
    void progressStart(const QString& text, int, ProgressKind) override
    {
        std::lock_guard guard(m_lock);
        progress << text;
    }
    void progressStep() override { }
    void progressStop() override { }

    std::mutex m_lock;
    QStringList questions;
    QStringList messages;
    QStringList progress;
    int answer = No;
};

class RecordingHost final : public DocumentHost {
public:
    void setWindowTitle(const QString& title) override
    {
        std::lock_guard guard(m_lock);
        titles << title;
    }
    std::optional<QString> promptPassword() override { return std::nullopt; }
    bool openProgramSettings() override
    {
        ++settingsOpened;
        return false;
    }
    void exitApplication() override { ++exits; }

    std::mutex m_lock;
    QStringList titles;
    int settingsOpened = 0;
    int exits = 0;
};

class RecordingViews final : public DocumentViews {
public:
    void addInstrumentNode(const CPager& pager) override
    {
        calls << QStringLiteral("instrument ") + pager.identifier();
    }
    void addDayNode(const QString& id, qint64 day) override
    {
        calls << QStringLiteral("day %1 %2").arg(id, LocalTime::format(day, "%Y-%m-%d"));
    }
    void rebuildTree() override { calls << QStringLiteral("rebuild"); }
    void markAlarmDay(const QString& id, qint64 day) override
    {
        calls << QStringLiteral("alarm day %1 %2").arg(id, LocalTime::format(day, "%Y-%m-%d"));
    }
    void showDay(const QString& id, const QString& date) override
    {
        calls << QStringLiteral("show %1 %2").arg(id, date);
    }
    bool insertEventAtTop(const ChistoryRec& r) override
    {
        calls << QStringLiteral("top ") + LocalTime::format(r.hDateTime, "%Y-%m-%d %H:%M:%S");
        rows.prepend(LocalTime::format(r.hDateTime, "%Y-%m-%d %H:%M:%S"));
        return true;
    }
    void insertEvents(const std::vector<ChistoryRec>& oldestFirst) override
    {
        QStringList stamps;
        for (const ChistoryRec& r : oldestFirst) {
            stamps << LocalTime::format(r.hDateTime, "%Y-%m-%d %H:%M:%S");
            rows.prepend(stamps.last());
        }
        calls << QStringLiteral("batch ") + stamps.join(u',');
    }

    QStringList calls;
    QStringList rows; // the event list as the inserts leave it
};
