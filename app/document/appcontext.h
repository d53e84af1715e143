#pragma once

#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/driverlock.h"
#include "document/docstate.h"
#include "history/historydb.h"
#include "history/messenger.h"
#include "history/viewflags.h"

#include <QStringList>

#include <atomic>

// Everything one running program holds once: its program folder and configuration, the flags
// the views and the background threads share, the device link state, the open event store and
// the messenger that reaches the person. Each program's main builds one and hands it down (the
// document takes it, and gives the lower layers the piece they need), so two programs can run
// side by side in one process, as the tests do with a station and its client.
class AppContext {
public:
    // The configuration is read from the folder's INI file (a missing file gives the defaults;
    // configProblems() lists what could not be used). The folder must exist.
    explicit AppContext(const ProgramFolder& folder);
    ~AppContext(); // closes the open store
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    const ProgramFolder& folder() const { return m_folder; }
    ProgramConfig& config() { return m_config; }
    const ProgramConfig& config() const { return m_config; }
    const QStringList& configProblems() const { return m_configProblems; }
    ViewFlags& viewFlags() { return m_viewFlags; }
    DeviceState& device() { return m_device; }
    DocState& state() { return m_state; }
    // The open event database of this program.
    HistoryStore& store() { return m_store; }

    // The messenger in use; never null. Until one is set, messages go to the Qt log and
    // questions are answered with Cancel or No.
    Messenger& messenger() const;
    // Sets the messenger (not owned; nullptr restores the log). Returns the previous one.
    Messenger* setMessenger(Messenger* messenger);

private:
    const ProgramFolder m_folder;
    ProgramConfig m_config;
    QStringList m_configProblems;
    ViewFlags m_viewFlags;
    DeviceState m_device;
    DocState m_state;
    HistoryStore m_store;
    mutable LogMessenger m_logMessenger;
    std::atomic<Messenger*> m_messenger { nullptr };
};
