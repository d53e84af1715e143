#include "ui/commandstate.h"

#include <iterator>

namespace Commands {

bool enabled(Id command, const Context& c)
{
    switch (command) {
    case Id::Exit:
    case Id::About:
        return true;
    default:
        break;
    }
    if (c.busy)
        return false;
    switch (command) {
    case Id::ImportHistory:
    case Id::ArchiveDatabase:
        return c.mainDatabase;
    case Id::ExportHistory:
    case Id::SaveHistoryAs:
    case Id::Print:
    case Id::PrintPreview:
    case Id::DoseReport:
        return c.daySelected;
    case Id::DownloadHistory:
        return c.mainDatabase && !c.localMode && c.currentDateSet;
    case Id::SwitchToMain:
        return !c.mainDatabase;
    case Id::OnlineMode:
    case Id::InstrumentSettings:
        return c.connected;
    case Id::ReadHistory:
        return c.mainDatabase && (!c.localMode || c.connected);
    case Id::EditComment:
        return c.eventSelected && c.mainDatabase;
    case Id::ViewArchive:
    case Id::ProgramSettings:
    case Id::RangeView:
    case Id::Filter:
        return true;
    case Id::Exit:
    case Id::About:
    case Id::Count:
        break;
    }
    return true;
}

QString name(Id command)
{
    static const char* const names[] = { "ImportHistory", "ExportHistory", "SaveHistoryAs", "DownloadHistory", "Print",
        "PrintPreview", "ArchiveDatabase", "ViewArchive", "SwitchToMain", "Exit", "OnlineMode", "ReadHistory",
        "EditComment", "InstrumentSettings", "ProgramSettings", "About", "RangeView", "Filter", "DoseReport" };
    static_assert(std::size(names) == static_cast<size_t>(Id::Count));
    const auto i = static_cast<size_t>(command);
    return i < std::size(names) ? QString::fromLatin1(names[i]) : QString();
}

} // namespace Commands
