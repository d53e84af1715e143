#include "history/messenger.h"

#include <QDebug>

#include <atomic>

Messenger::~Messenger() = default;

namespace {

class LogMessenger final : public Messenger {
public:
    int ask(const QString& caption, const QString& text, int buttons, Icon) override
    {
        qWarning().noquote() << caption << ":" << text << "(no one to ask)";
        if (buttons & Cancel)
            return Cancel;
        if (buttons & No)
            return No;
        return Ok;
    }
    void tell(const QString& caption, const QString& text, Icon) override
    {
        qWarning().noquote() << caption << ":" << text;
    }
    void progressStart(const QString&, int) override { }
    void progressStep() override { }
    void progressStop() override { }
};

LogMessenger s_logMessenger;
std::atomic<Messenger*> s_installed { nullptr };

} // namespace

Messenger& Messenger::instance()
{
    Messenger* m = s_installed.load();
    return m ? *m : s_logMessenger;
}

Messenger* Messenger::install(Messenger* messenger)
{
    return s_installed.exchange(messenger);
}
