#include "history/messenger.h"

#include <QDebug>

Messenger::~Messenger() = default;

int LogMessenger::ask(const QString& caption, const QString& text, int buttons, Icon)
{
    qWarning().noquote() << caption << ":" << text << "(no one to ask)";
    if (buttons & Cancel)
        return Cancel;
    if (buttons & No)
        return No;
    return Ok;
}

void LogMessenger::tell(const QString& caption, const QString& text, Icon)
{
    qWarning().noquote() << caption << ":" << text;
}

int HeldMessenger::ask(const QString& caption, const QString& text, int buttons, Icon icon)
{
    return LogMessenger().ask(caption, text, buttons, icon);
}

void HeldMessenger::tell(const QString& caption, const QString& text, Icon icon)
{
    std::lock_guard guard(m_lock);
    m_held.push_back({ caption, text, icon });
}

void HeldMessenger::tellAll(Messenger& to)
{
    std::vector<Held> held;
    {
        std::lock_guard guard(m_lock);
        held.swap(m_held);
    }
    for (const Held& h : held)
        to.tell(h.caption, h.text, h.icon);
}
