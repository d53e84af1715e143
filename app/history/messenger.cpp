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
