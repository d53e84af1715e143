#pragma once

#include <QString>

// The commands of the main window and the one rule that decides which of them can run.
namespace Commands {

enum class Id {
    ImportHistory, // 32795
    ExportHistory, // 32794
    SaveHistoryAs, // 32816
    DownloadHistory, // 32821
    Print, // 57607
    PrintPreview, // 32805
    ArchiveDatabase, // 32808
    ViewArchive, // 32807
    SwitchToMain, // 32814
    Exit, // 57665
    OnlineMode, // 32775
    ReadHistory, // 32779
    EditComment, // 32772
    InstrumentSettings, // 32782
    ProgramSettings, // 32771
    About, // 57664
    RangeView, // the range chart of one instrument
    Filter, // 32817, the filter box
    DoseReport, // a command of this program's own
    Count
};

// Everything the enablement depends on, gathered from the frame, the views and the document.
struct Context {
    bool mainDatabase = true; // no archive database is being viewed
    bool localMode = true;
    bool connected = false; // the instrument (local) or the server (remote) answered last time
    bool daySelected = false; // a day node is selected in the tree
    bool currentDateSet = false; // the document has a current date
    bool eventSelected = false; // a row of the event list is selected
    bool busy = false; // a document operation is in progress (its job may be waiting)
};

// Whether a command can run now. While an operation is in progress every command that would
// start a second job (a load, a download, a dialog that reads the instrument, a database
// change, a re-initialisation) is off; only Exit and About stay on.
bool enabled(Id command, const Context& context);

// The command's name for logs and test output.
QString name(Id command);

} // namespace Commands
