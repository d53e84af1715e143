#pragma once

#include "history/messenger.h"

#include <QStringList>

// Records what the core tells the person; answers questions with a fixed button.
class Recorder final : public Messenger {
public:
    int ask(const QString& caption, const QString& text, int, Icon) override
    {
        messages << caption + QLatin1Char('|') + text;
        return answer;
    }
    void tell(const QString& caption, const QString& text, Icon) override
    {
        messages << caption + QLatin1Char('|') + text;
    }
    void progressStart(const QString&, int, ProgressKind) override { }
    void progressStep() override { }
    void progressStop() override { }

    QStringList messages;
    int answer = Cancel;
};
