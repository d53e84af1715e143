// The commands of the main window.
#include "ui/mainframe.h"

#include "config/password.h"
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/historyexport.h"
#include "history/historyfiles.h"
#include "history/localtime.h"
#include "history/messenger.h"
#include "history/querymode.h"
#include "history/viewflags.h"
#include "models/instrumenttreemodel.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/rangeview.h"
#include "ui/startup.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>

#include "ui/dialogs/deviceconfig.h"
#include "ui/dialogs/enterpassword.h"
#include "ui/dialogs/onlinemode.h"
#include "ui/dialogs/programsettings.h"
#include "ui/eventlistprinter.h"

#include <algorithm>
#include <ctime>

namespace {

// The file commands start in the archives folder and leave the working folder at the
// program folder, whatever the dialog did to it.
class BackToProgramFolder {
public:
    explicit BackToProgramFolder(const ProgramFolder& folder)
        : m_folder(folder)
    {
    }
    ~BackToProgramFolder() { QDir::setCurrent(m_folder.path()); }
    BackToProgramFolder(const BackToProgramFolder&) = delete;
    BackToProgramFolder& operator=(const BackToProgramFolder&) = delete;

private:
    const ProgramFolder& m_folder;
};

QString withSuffix(const QString& path, const QString& suffix)
{
    if (path.isEmpty() || path.endsWith(u'.' + suffix, Qt::CaseInsensitive))
        return path;
    return path + u'.' + suffix;
}

} // namespace

QString CMainFrame::archivesFolder() const
{
    return HistoryFiles::archivesFolder(m_doc.context().folder().path());
}

const CHistoryList* CMainFrame::currentDay()
{
    const QString id = m_doc.state().currentInstrument();
    const qint64 date = m_doc.state().currentDate();
    if (id.isEmpty() || date == 0)
        return nullptr;
    return m_doc.dayEvents(id, date, QueryMode::AllEvents);
}

void CMainFrame::importHistory()
{
    const BackToProgramFolder back(m_doc.context().folder());
    const QString path = QFileDialog::getOpenFileName(this, tr("Import History"),
        archivesFolder() + QStringLiteral("/*.ksexp"), tr("Export files") + QStringLiteral(" (*.ksexp)"));
    if (path.isEmpty())
        return;
    m_doc.importHistory(path);
}

void CMainFrame::exportHistory()
{
    const BackToProgramFolder back(m_doc.context().folder());
    const QString proposed = HistoryFiles::proposedName(m_doc.state().currentInstrument(), m_doc.state().currentDate());
    QFileDialog dialog(this, tr("Export History"), archivesFolder() + u'/' + proposed + QStringLiteral(".ksexp"),
        tr("Export files") + QStringLiteral(" (*.ksexp)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("ksexp"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    HistoryFiles::exportDay(m_doc.messenger(), currentDay(),
        withSuffix(dialog.selectedFiles().constFirst(), QStringLiteral("ksexp")),
        m_doc.context().viewFlags().filterIndex());
}

void CMainFrame::saveHistoryAs()
{
    const BackToProgramFolder back(m_doc.context().folder());
    const QString proposed = HistoryFiles::proposedName(m_doc.state().currentInstrument(), m_doc.state().currentDate());
    // The tab-separated text of old, and the two forms other programs read.
    const QString excel = tr("Excel files") + QStringLiteral(" (*.xls)");
    const QString csv = tr("CSV files") + QStringLiteral(" (*.csv)");
    const QString json = tr("JSON Lines files") + QStringLiteral(" (*.jsonl)");
    QFileDialog dialog(this, tr("Save History As"), archivesFolder() + u'/' + proposed + QStringLiteral(".xls"));
    dialog.setNameFilters({ excel, csv, json });
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("xls"));
    const auto suffixOf = [&](const QString& filter) {
        return filter == csv ? QStringLiteral("csv") : filter == json ? QStringLiteral("jsonl") : QStringLiteral("xls");
    };
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
        [&](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString filter = dialog.selectedNameFilter();
    QString path = dialog.selectedFiles().constFirst();
    // A suffix the dialog added for a file type chosen before the last one gives way.
    const QString stale = u'.' + dialog.defaultSuffix();
    if (dialog.defaultSuffix() != suffixOf(filter) && path.endsWith(stale, Qt::CaseInsensitive))
        path.chop(stale.size());
    path = withSuffix(path, suffixOf(filter));
    const int filterIndex = m_doc.context().viewFlags().filterIndex();
    const bool roentgen = m_doc.context().viewFlags().unitsRoentgen();
    if (filter != csv && filter != json) {
        HistoryFiles::saveAsText(m_doc.messenger(), currentDay(), path, filterIndex, roentgen);
        return;
    }
    // Oldest first, as a spreadsheet or a script reads a day; under the filter as shown.
    std::vector<ChistoryRec> records;
    if (const CHistoryList* day = currentDay()) {
        for (const ChistoryRec& r : day->records()) {
            if (filterIndex != ViewFlags::AlarmsOnly || r.isAlarm())
                records.push_back(r);
        }
    }
    std::stable_sort(records.begin(), records.end(),
        [](const ChistoryRec& a, const ChistoryRec& b) { return a.hDateTime < b.hDateTime; });
    QString error;
    if (!HistoryExport::exportRecords(records,
            filter == csv ? HistoryExport::Format::Csv : HistoryExport::Format::JsonLines, roentgen, path, &error))
        m_doc.messenger().tell(tr("Error!"), error, Messenger::Icon::Error);
}

void CMainFrame::downloadHistory()
{
    m_doc.downloadFromRemote(m_doc.state().currentInstrument(), m_doc.state().currentDate());
}

EventListPrinter CMainFrame::eventListPrinter() const
{
    EventListPrinter printer(m_list->rowsInViewOrder(), m_doc.context().viewFlags().unitsRoentgen(),
        m_doc.context().viewFlags().filterIndex());
    const QString id = m_doc.state().currentInstrument();
    const CPager* pager = m_doc.pagers().find(id);
    printer.setInstrument(id, pager ? pager->displayName() : QString());
    return printer;
}

void CMainFrame::printHistory()
{
    QPrinter printer(QPrinter::HighResolution);
    const EventListPrinter list = eventListPrinter();
    QPrintDialog dialog(&printer, this);
    // The dialog offers a range of the pages there are.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange);
    dialog.setMinMax(1, std::max(1, list.pageCount(printer)));
    if (dialog.exec() == QDialog::Accepted && !list.print(printer))
        tellPrintFailed(EventListPrinter::target(printer));
}

void CMainFrame::printPreview()
{
    EventListPrinter list = eventListPrinter();
    if (const QString failed = EventListPrinter::preview(list, this); !failed.isEmpty())
        tellPrintFailed(failed);
}

void CMainFrame::tellPrintFailed(const QString& target)
{
    m_doc.messenger().tell(
        tr("Error!"), tr("The list could not be printed to %1.").arg(target), Messenger::Icon::Error);
}

void CMainFrame::archiveDatabase()
{
    const BackToProgramFolder back(m_doc.context().folder());
    const qint64 now = std::time(nullptr);
    QFileDialog dialog(this, tr("Archive Database"), archivesFolder() + u'/' + HistoryFiles::archiveFileName(now),
        tr("Database archive") + QStringLiteral(" (*.db)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("db"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_doc.archiveTo(withSuffix(dialog.selectedFiles().constFirst(), QStringLiteral("db")), now);
}

void CMainFrame::viewArchive()
{
    const BackToProgramFolder back(m_doc.context().folder());
    const QString path = QFileDialog::getOpenFileName(this, tr("View Archive Database"),
        archivesFolder() + QStringLiteral("/DBArchive*.db"), tr("Database") + QStringLiteral(" (*.db)"));
    if (path.isEmpty())
        return;
    m_doc.setArchivePath(path);
    reinitialise();
}

void CMainFrame::switchToMain()
{
    m_doc.setArchivePath(QString());
    reinitialise();
}

void CMainFrame::onlineMode()
{
    openOnlineMode();
}

void CMainFrame::readHistory()
{
    m_doc.readHistory();
    m_doc.state().pollNow = true;
}

void CMainFrame::editComment()
{
    if (!m_doc.mainDatabaseShown() || m_list->chosenRow() < 0)
        return;
    m_list->editComment();
}

void CMainFrame::instrumentSettings()
{
    if (m_doc.state().localMode.load() && !Password::isAuthorised()) {
        const std::optional<QString> entered = promptPassword();
        if (!entered)
            return;
        if (!Password::authorise(*entered, m_doc.context().config().passwordDigest)) {
            m_doc.messenger().tell(tr("Error!"), tr("Incorrect password!"), Messenger::Icon::Error);
            return;
        }
    }
    openDeviceConfig();
}

void CMainFrame::programSettings()
{
    if (!openProgramSettingsDialog())
        return;
    applyServerSettings();
    reinitialise();
}

void CMainFrame::about()
{
    emit dialogOpened(QStringLiteral("About"));
    Startup::showAbout(this);
}

// The dialogs of the other parts of the window are opened here and nowhere else.

void CMainFrame::openDeviceConfig()
{
    emit dialogOpened(QStringLiteral("DeviceConfig"));
    DeviceConfig dialog(m_doc, m_doc.context().config(), this);
    dialog.exec();
    // The thresholds the dialog read are the charts' lines for that instrument from now on.
    const QString id = m_doc.state().attachedInstrument();
    if (dialog.loaded() && !id.isEmpty())
        setKnownThresholds(id, dialog.parametersAsRead());
}

void CMainFrame::rangeView()
{
    openRangeView();
}

HistoryDb* CMainFrame::shownStore() const
{
    return m_doc.eventsOnServer() ? nullptr : m_doc.context().store().current();
}

void CMainFrame::openRangeView()
{
    emit dialogOpened(QStringLiteral("RangeView"));
    RangeView dialog(
        m_doc, [this] { return shownStore(); }, m_doc.context().viewFlags().unitsRoentgen(), m_thresholds, this);
    const QString current = m_doc.state().currentInstrument();
    const qint64 day = m_doc.state().currentDate();
    const QDate shown = day != 0 ? QDateTime::fromSecsSinceEpoch(day).date() : QDate::currentDate();
    dialog.choose(current, RangeView::Week, shown);
    dialog.exec();
}

void CMainFrame::openOnlineMode()
{
    emit dialogOpened(QStringLiteral("COnlineMode"));
    COnlineMode dialog(m_doc, this);
    const auto known = m_thresholds.find(m_doc.state().attachedInstrument());
    if (known != m_thresholds.end())
        dialog.setThresholds(known->second);
    dialog.exec();
}

bool CMainFrame::openProgramSettingsDialog()
{
    emit dialogOpened(QStringLiteral("CProgramSettings"));
    CProgramSettings dialog(m_doc.context().config(), m_doc.messenger(), &m_doc, PortDiscovery(), this);
    return dialog.exec() == QDialog::Accepted;
}

// The settings password prompt: the digest of the entry, empty for an empty entry, nothing
// on Cancel.
std::optional<QString> CMainFrame::promptPassword()
{
    CEnterPassword dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.promptValue();
}
