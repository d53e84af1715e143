#pragma once

#include <QString>

#include <mutex>
#include <vector>

// How the core reaches the person: a question with buttons, a message, a progress bar. The
// window implements it with dialogs; tests install a recorder. Each program's context holds
// the one in use (AppContext::messenger()); lower layers take it as a parameter. The core calls it from the
// thread it runs on; an implementation that shows widgets must hand calls from other threads
// over to its own thread.
class Messenger {
public:
    enum class Icon { None, Information, Warning, Error, Question };
    // Buttons and answers; ask() takes an OR of buttons and returns the one chosen.
    enum Button { Ok = 0x1, Cancel = 0x2, Yes = 0x4, No = 0x8 };
    // Where a progress shows: the status bar, or a small window of its own (the instrument
    // settings' reads and writes, which keep the person in their dialog).
    enum class ProgressKind { Bar, Window };

    virtual ~Messenger();

    virtual int ask(const QString& caption, const QString& text, int buttons, Icon icon) = 0;
    virtual void tell(const QString& caption, const QString& text, Icon icon) = 0;
    virtual void progressStart(const QString& text, int range, ProgressKind kind = ProgressKind::Bar) = 0;
    virtual void progressStep() = 0;
    virtual void progressStop() = 0;
};

// Holds what a job on another thread has to say until the thread that waited for it tells it
// (tellAll), so that the person hears it in order, after the job, from the right thread. A
// question is answered with Cancel or No (a job does not ask); progress is dropped.
class HeldMessenger final : public Messenger {
public:
    int ask(const QString& caption, const QString& text, int buttons, Icon icon) override;
    void tell(const QString& caption, const QString& text, Icon icon) override;
    void progressStart(const QString&, int, ProgressKind) override { }
    void progressStep() override { }
    void progressStop() override { }
    // Tells every held message to to, in order, and forgets them.
    void tellAll(Messenger& to);

private:
    struct Held {
        QString caption;
        QString text;
        Icon icon;
    };
    std::mutex m_lock;
    std::vector<Held> m_held;
};

// The messenger of a program without a person: messages go to the Qt log and questions are
// answered with Cancel or No (Ok when neither is offered).
class LogMessenger final : public Messenger {
public:
    int ask(const QString& caption, const QString& text, int buttons, Icon icon) override;
    void tell(const QString& caption, const QString& text, Icon icon) override;
    void progressStart(const QString&, int, ProgressKind) override { }
    void progressStep() override { }
    void progressStop() override { }
};
