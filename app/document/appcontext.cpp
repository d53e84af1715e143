#include "document/appcontext.h"

AppContext::AppContext(const ProgramFolder& folder)
    : m_folder(folder)
    , m_device(folder.path())
    , m_state(m_device, m_viewFlags)
{
    m_config.load(m_folder.iniPath(), &m_configProblems);
}

AppContext::~AppContext() = default;

Messenger& AppContext::messenger() const
{
    Messenger* m = m_messenger.load();
    return m ? *m : m_logMessenger;
}

Messenger* AppContext::setMessenger(Messenger* messenger)
{
    return m_messenger.exchange(messenger);
}
