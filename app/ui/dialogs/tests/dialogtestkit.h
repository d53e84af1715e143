#pragma once

#include "history/messenger.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <mutex>

// Records what the dialogs tell the person and answers their questions from a script.
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
    void progressStart(const QString&, int, ProgressKind) override { }
    void progressStep() override { }
    void progressStop() override { }

    void clear()
    {
        std::lock_guard guard(m_lock);
        questions.clear();
        messages.clear();
    }

    std::mutex m_lock;
    QStringList questions;
    QStringList messages;
    int answer = Cancel;
};

// Runs an action on the next modal dialog of type T that opens (from inside its exec), as a
// person would fill it in and press a button.
template <typename T> void onNextModal(std::function<void(T*)> action, int attempts = 500)
{
    QTimer::singleShot(10, [action = std::move(action), attempts]() mutable {
        if (T* modal = qobject_cast<T*>(QApplication::activeModalWidget()))
            action(modal);
        else if (attempts > 0)
            onNextModal<T>(std::move(action), attempts - 1);
    });
}
