#include "ui/mainframe.h"

#include "config/programconfig.h"
#include "document/documentrequesthandler.h"
#include "document/historyscheduler.h"
#include "document/kestradoc.h"
#include "history/localtime.h"
#include "history/viewflags.h"
#include "models/eventlistmodel.h"
#include "models/instrumenttreemodel.h"
#include "remote/remoteserver.h"
#include "ui/daychartview.h"
#include "ui/kestradevview.h"
#include "ui/kestraview.h"
#include "ui/widgetmessenger.h"
#include "web/stationweb.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QIcon>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>

// The bundled icons live in this static library; the program and the tests link it.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

// What the document asks of the window besides messages and progress.
class CMainFrame::Host final : public DocumentHost {
public:
    explicit Host(CMainFrame& frame)
        : m_frame(frame)
    {
    }

    // The watcher's title update comes from its own thread.
    void setWindowTitle(const QString& title) override
    {
        QPointer<CMainFrame> frame(&m_frame);
        auto apply = [frame, title] {
            if (frame) {
                frame->QMainWindow::setWindowTitle(title);
                frame->updateCommands();
            }
        };
        if (QThread::currentThread() == m_frame.thread())
            apply();
        else
            QMetaObject::invokeMethod(&m_frame, apply, Qt::QueuedConnection);
    }
    std::optional<QString> promptPassword() override { return m_frame.promptPassword(); }
    bool openProgramSettings() override { return m_frame.openProgramSettingsDialog(); }
    // Without a database the window goes on (another can be chosen); it keeps its one-copy
    // lock until it ends, so that a second copy cannot start beside it.
    void exitApplication() override { }
    // The window stays painted while the document waits for a job (the default keepAlive turns
    // the event loop). Commands that would start a second job are off meanwhile
    // (updateCommands), and what touches the document waits for the operation to end (whenIdle).

private:
    CMainFrame& m_frame;
};

namespace {

struct CommandText {
    Commands::Id id;
    const char* text; // menu text, the key after a tab
    const char* prompt; // status bar
    const char* tip; // tool tip; nullptr for none of its own
    const char* theme; // icon theme name, nullptr for none
    const char* fallback; // bundled icon
};

// The texts of the menu, the status bar and the tool tips.
constexpr CommandText Texts[] = {
    { Commands::Id::ImportHistory, QT_TRANSLATE_NOOP("CMainFrame", "&Import History\tCtrl+I"),
        QT_TRANSLATE_NOOP("CMainFrame", "Import history from file"),
        QT_TRANSLATE_NOOP("CMainFrame", "Import history from file"), "document-import", "import" },
    { Commands::Id::ExportHistory, QT_TRANSLATE_NOOP("CMainFrame", "&Export History\tCtrl+E"),
        QT_TRANSLATE_NOOP("CMainFrame", "Export history to file"),
        QT_TRANSLATE_NOOP("CMainFrame", "Export history to file"), "document-export", "export" },
    { Commands::Id::SaveHistoryAs, QT_TRANSLATE_NOOP("CMainFrame", "&Save History As...\tCtrl+S"), nullptr, nullptr,
        nullptr, nullptr },
    { Commands::Id::DownloadHistory, QT_TRANSLATE_NOOP("CMainFrame", "Download History\tCtrl+D"),
        QT_TRANSLATE_NOOP("CMainFrame", "Download history to from remote computer"),
        QT_TRANSLATE_NOOP("CMainFrame", "Download History from remote"), nullptr, nullptr },
    { Commands::Id::Print, QT_TRANSLATE_NOOP("CMainFrame", "&Print...\tCtrl+P"),
        QT_TRANSLATE_NOOP("CMainFrame", "Print history/nPrint  history"), nullptr, "document-print", "print" },
    { Commands::Id::PrintPreview, QT_TRANSLATE_NOOP("CMainFrame", "Print Pre&view\tCtrl+V"),
        QT_TRANSLATE_NOOP("CMainFrame", "Preview history"), nullptr, nullptr, nullptr },
    { Commands::Id::DoseReport, QT_TRANSLATE_NOOP("CMainFrame", "&Dose Report..."),
        QT_TRANSLATE_NOOP("CMainFrame", "Print or save as PDF a dose report of the instrument over a period"), nullptr,
        nullptr, nullptr },
    { Commands::Id::ArchiveDatabase, QT_TRANSLATE_NOOP("CMainFrame", "&Archive Database\tCtrl+A"),
        QT_TRANSLATE_NOOP("CMainFrame", "Move all events to archive database"), nullptr, nullptr, nullptr },
    { Commands::Id::ViewArchive, QT_TRANSLATE_NOOP("CMainFrame", "Vie&w Archive Database\tCtrl+W"),
        QT_TRANSLATE_NOOP("CMainFrame", "View archive database"), nullptr, nullptr, nullptr },
    { Commands::Id::SwitchToMain, QT_TRANSLATE_NOOP("CMainFrame", "Swi&tch to Main Database\tCtrl+T"),
        QT_TRANSLATE_NOOP("CMainFrame", "Switch to main database"), nullptr, nullptr, nullptr },
    { Commands::Id::Exit, QT_TRANSLATE_NOOP("CMainFrame", "E&xit"), QT_TRANSLATE_NOOP("CMainFrame", "Exit the program"),
        QT_TRANSLATE_NOOP("CMainFrame", "Exit"), nullptr, nullptr },
    { Commands::Id::OnlineMode, QT_TRANSLATE_NOOP("CMainFrame", "On&line Mode\tCtrl+L"),
        QT_TRANSLATE_NOOP("CMainFrame", "Online Mode"), QT_TRANSLATE_NOOP("CMainFrame", "Online Mode"),
        "utilities-system-monitor", "online" },
    { Commands::Id::ReadHistory, QT_TRANSLATE_NOOP("CMainFrame", "Read &History\tCtrl+H"),
        QT_TRANSLATE_NOOP("CMainFrame", "Read history from instrument"),
        QT_TRANSLATE_NOOP("CMainFrame", "Read history"), nullptr, nullptr },
    { Commands::Id::EditComment, QT_TRANSLATE_NOOP("CMainFrame", "Edit Co&mment\tCtrl+M"),
        QT_TRANSLATE_NOOP("CMainFrame", "Edit Comment"),
        QT_TRANSLATE_NOOP("CMainFrame", "Edit comment to selected event"), "document-edit", "comment" },
    { Commands::Id::InstrumentSettings, QT_TRANSLATE_NOOP("CMainFrame", "Instrument &Settings\tAlt+S"),
        QT_TRANSLATE_NOOP("CMainFrame", "Instrument Settings"), QT_TRANSLATE_NOOP("CMainFrame", "Instrument Settings"),
        nullptr, "instrument" },
    { Commands::Id::ProgramSettings, QT_TRANSLATE_NOOP("CMainFrame", "P&rogram Settings\tAlt+R"),
        QT_TRANSLATE_NOOP("CMainFrame", "Program Settings"), QT_TRANSLATE_NOOP("CMainFrame", "Program Settings"),
        "preferences-system", "settings" },
    { Commands::Id::About, QT_TRANSLATE_NOOP("CMainFrame", "&About KESTRA Software..."),
        QT_TRANSLATE_NOOP("CMainFrame", "Display program information"), QT_TRANSLATE_NOOP("CMainFrame", "About"),
        "help-about", "about" },
    { Commands::Id::RangeView, QT_TRANSLATE_NOOP("CMainFrame", "Ra&nge View..."),
        QT_TRANSLATE_NOOP("CMainFrame", "Chart an instrument over a week, a month, a year or two dates"),
        QT_TRANSLATE_NOOP("CMainFrame", "Range view"), nullptr, nullptr },
};

QString trFrame(const char* text)
{
    return QCoreApplication::translate("CMainFrame", text);
}

} // namespace

CMainFrame::CMainFrame(CKESTRADoc& doc, QWidget* parent)
    : QMainWindow(parent)
    , m_doc(doc)
    , m_host(std::make_unique<Host>(*this))
{
    initIconResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/kestra.svg")));
    setWindowTitle(QString::fromLatin1(CKESTRADoc::ApplicationName));
    m_messenger = std::make_unique<WidgetMessenger>(this, &m_doc.context());
    m_scheduler = std::make_unique<HistoryScheduler>(m_doc);
    m_backend = std::make_unique<DocumentRequestHandler>(m_doc);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    // The right pane: the event list with the chart of the same rows below it.
    auto* right = new QSplitter(Qt::Vertical, m_splitter);
    right->setObjectName(QStringLiteral("listAndChart"));
    m_list = new CKESTRAView(m_doc, right);
    m_chart = new DayChartView(m_list->eventModel(), *m_list->selectionModel(), right);
    m_chart->setObjectName(QStringLiteral("dayChart"));
    right->setStretchFactor(0, 3);
    right->setStretchFactor(1, 2);
    right->setChildrenCollapsible(true);
    connect(m_chart, &DayChartView::rowChosen, m_list, &CKESTRAView::chooseRow);
    m_tree = new CKESTRADevView(m_doc, *m_list, m_splitter);
    m_splitter->insertWidget(0, m_tree);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({ 150, 500 });
    m_splitter->setChildrenCollapsible(false);
    setCentralWidget(m_splitter);
    resize(800, 560);

    createActions();
    createMenus();
    createToolBar();
    createShortcuts();
    statusBar()->showMessage(tr("Ready"));
    // A command's prompt shows while the pointer is on it; then the pane says "Ready" again.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty())
            statusBar()->showMessage(tr("Ready"));
    });

    connect(m_tree, &CKESTRADevView::selectionStateChanged, this, &CMainFrame::updateCommands);
    connect(m_tree, &CKESTRADevView::exportRequested, this, [this] { runCommand(Command::ExportHistory); });
    connect(m_tree, &CKESTRADevView::downloadRequested, this, [this] { runCommand(Command::DownloadHistory); });
    connect(m_list, &CKESTRAView::eventSelectionChanged, this, &CMainFrame::updateCommands);
    // A job's progress shows while an operation is in progress; when it goes, the operation
    // ends, and the commands come back once it has.
    connect(m_messenger.get(), &WidgetMessenger::progressChanged, this, [this](bool shown) {
        updateCommands();
        if (!shown)
            QTimer::singleShot(0, this, &CMainFrame::updateCommands);
    });

    m_doc.setHost(m_host.get());
    m_doc.setViews(this);
    updateCommands();
}

CMainFrame::~CMainFrame()
{
    m_scheduler->stop();
    m_web.reset();
    if (m_server)
        m_server->stop();
    m_server.reset();
    m_doc.stopBackground();
    m_doc.setViews(nullptr);
    m_doc.setHost(nullptr);
    m_messenger.reset();
}

void CMainFrame::createActions()
{
    for (const CommandText& t : Texts) {
        auto* a = new QAction(trFrame(t.text), this);
        if (t.prompt)
            a->setStatusTip(trFrame(t.prompt));
        if (t.tip)
            a->setToolTip(trFrame(t.tip));
        if (t.fallback) {
            const QIcon bundled(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(t.fallback)));
            a->setIcon(t.theme ? QIcon::fromTheme(QLatin1String(t.theme), bundled) : bundled);
        }
        // The keys are the window's accelerator table (createShortcuts), not the menu's texts.
        a->setShortcutContext(Qt::WidgetShortcut);
        m_actions[static_cast<size_t>(t.id)] = a;
    }
    auto on
        = [this](Command c, void (CMainFrame::*handler)()) { connect(action(c), &QAction::triggered, this, handler); };
    on(Command::ImportHistory, &CMainFrame::importHistory);
    on(Command::ExportHistory, &CMainFrame::exportHistory);
    on(Command::SaveHistoryAs, &CMainFrame::saveHistoryAs);
    on(Command::DownloadHistory, &CMainFrame::downloadHistory);
    on(Command::Print, &CMainFrame::printHistory);
    on(Command::PrintPreview, &CMainFrame::printPreview);
    on(Command::DoseReport, &CMainFrame::doseReport);
    on(Command::ArchiveDatabase, &CMainFrame::archiveDatabase);
    on(Command::ViewArchive, &CMainFrame::viewArchive);
    on(Command::SwitchToMain, &CMainFrame::switchToMain);
    connect(action(Command::Exit), &QAction::triggered, this, &QWidget::close);
    on(Command::OnlineMode, &CMainFrame::onlineMode);
    on(Command::ReadHistory, &CMainFrame::readHistory);
    on(Command::EditComment, &CMainFrame::editComment);
    on(Command::InstrumentSettings, &CMainFrame::instrumentSettings);
    on(Command::ProgramSettings, &CMainFrame::programSettings);
    on(Command::About, &CMainFrame::about);
    on(Command::RangeView, &CMainFrame::rangeView);
}

void CMainFrame::createMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    for (Command c :
        { Command::ImportHistory, Command::ExportHistory, Command::SaveHistoryAs, Command::DownloadHistory })
        file->addAction(action(c));
    file->addSeparator();
    file->addAction(action(Command::Print));
    file->addAction(action(Command::PrintPreview));
    file->addAction(action(Command::DoseReport));
    file->addSeparator();
    for (Command c : { Command::ArchiveDatabase, Command::ViewArchive, Command::SwitchToMain })
        file->addAction(action(c));
    file->addSeparator();
    file->addAction(action(Command::Exit));

    QMenu* tools = menuBar()->addMenu(tr("Tools"));
    for (Command c : { Command::OnlineMode, Command::ReadHistory, Command::EditComment, Command::RangeView })
        tools->addAction(action(c));
    tools->addSeparator();
    tools->addAction(action(Command::InstrumentSettings));
    tools->addAction(action(Command::ProgramSettings));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(action(Command::About));

    // The state can change without a notice to the frame (the link, a job ending); a menu
    // shows it as it is when opened.
    for (QMenu* menu : { file, tools, help })
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::updateCommands);
}

void CMainFrame::createToolBar()
{
    m_toolbar = addToolBar(tr("Toolbar"));
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setIconSize(QSize(16, 16));
    // The buttons of the clipboard, New and the window layout are hidden; their separators
    // would stand side by side, so one remains.
    m_toolbar->addAction(action(Command::ImportHistory));
    m_toolbar->addAction(action(Command::ExportHistory));
    m_toolbar->addSeparator();
    m_toolbar->addAction(action(Command::Print));
    m_toolbar->addSeparator();
    m_toolbar->addAction(action(Command::EditComment));
    m_toolbar->addSeparator();
    m_toolbar->addAction(action(Command::OnlineMode));
    m_toolbar->addSeparator();
    m_toolbar->addAction(action(Command::InstrumentSettings));
    m_toolbar->addAction(action(Command::ProgramSettings));
    m_toolbar->addSeparator();
    m_toolbar->addAction(action(Command::About));
    m_toolbar->addSeparator();

    m_filter = new QComboBox(m_toolbar);
    m_filter->setObjectName(QStringLiteral("filter"));
    m_filter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_filter->setMinimumWidth(130);
    m_toolbar->addWidget(m_filter);
    connect(m_filter, &QComboBox::currentIndexChanged, this, &CMainFrame::filterChanged);
}

void CMainFrame::createShortcuts()
{
    // The accelerator table in its order; the first entry of a key wins. Keys whose command
    // has no handler (the clipboard and Undo) are left to the focused widget, so they do nothing
    // here; the second Ctrl+V (Print Preview) never comes into play.
    const std::pair<QKeySequence, Command> table[] = {
        { QKeySequence(Qt::CTRL | Qt::Key_D), Command::InstrumentSettings },
        { QKeySequence(Qt::CTRL | Qt::Key_M), Command::EditComment },
        { QKeySequence(Qt::CTRL | Qt::Key_A), Command::ArchiveDatabase },
        { QKeySequence(Qt::CTRL | Qt::Key_E), Command::ExportHistory },
        { QKeySequence(Qt::CTRL | Qt::Key_I), Command::ImportHistory },
        { QKeySequence(Qt::CTRL | Qt::Key_O), Command::ViewArchive },
        { QKeySequence(Qt::CTRL | Qt::Key_P), Command::Print },
        { QKeySequence(Qt::CTRL | Qt::Key_L), Command::OnlineMode },
        { QKeySequence(Qt::CTRL | Qt::Key_R), Command::ProgramSettings },
    };
    for (const auto& [keys, command] : table) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        const Command c = command;
        connect(shortcut, &QShortcut::activated, this, [this, c] { runCommand(c); });
    }
}

bool CMainFrame::runCommand(Command command)
{
    updateCommands();
    QAction* a = action(command);
    if (!a || !a->isEnabled())
        return false;
    a->trigger();
    return true;
}

Commands::Context CMainFrame::commandContext() const
{
    Commands::Context c;
    c.mainDatabase = m_doc.mainDatabaseShown();
    c.localMode = m_doc.state().localMode.load();
    c.connected = m_doc.state().connected();
    c.daySelected = m_tree->daySelected();
    c.currentDateSet = m_doc.state().currentDate() != 0;
    c.eventSelected = m_list->chosenRow() >= 0;
    c.busy = m_doc.busy();
    return c;
}

void CMainFrame::updateCommands()
{
    const Commands::Context context = commandContext();
    for (size_t i = 0; i < m_actions.size(); ++i) {
        if (m_actions[i])
            m_actions[i]->setEnabled(Commands::enabled(static_cast<Command>(i), context));
    }
    m_filter->setEnabled(Commands::enabled(Command::Filter, context));
}

void CMainFrame::setUnattended(int ms)
{
    m_messenger->setUnattended(ms);
}

void CMainFrame::start()
{
    ProgramConfig& config = m_doc.context().config();
    if (!config.localMode) {
        // A client chooses its server first.
        if (openProgramSettingsDialog()) {
            // The settings dialog re-initialises on OK below anyway.
        }
    }
    applyServerSettings();
    reinitialise();
}

void CMainFrame::applyServerSettings()
{
    const ProgramConfig& config = m_doc.context().config();
    const QString wanted = config.localMode && config.operateAsServer
        ? QStringLiteral("%1|%2").arg(config.serverPort).arg(config.webServer)
        : QString();
    if (wanted == m_serving)
        return;
    m_web.reset();
    if (m_server)
        m_server->stop();
    m_server.reset();
    m_serving = wanted;
    if (wanted.isEmpty())
        return;
    m_server = std::make_unique<CPool>(m_backend.get());
    if (!m_server->start(static_cast<quint16>(config.serverPort))) {
        m_doc.messenger().tell(tr("Error!"), tr("Error (%1) during server socket creating").arg(m_server->lastError()),
            Messenger::Icon::Error);
        m_server.reset();
    }
    if (const auto web = StationWeb::parseListen(config.webServer); m_server && web) {
        m_web = std::make_unique<StationWeb>(m_doc);
        m_web->setStationPool(m_server.get());
        if (!m_web->start(web->first, web->second)) {
            m_doc.messenger().tell(tr("Error!"),
                tr("The web page cannot be served on %1: %2").arg(config.webServer, m_web->lastErrorText()),
                Messenger::Icon::Error);
            m_web.reset();
        }
    }
}

void CMainFrame::reinitialise()
{
    if (m_filter->count() == 0) {
        const QSignalBlocker blocker(m_filter);
        m_filter->addItem(tr("All events"));
        m_filter->setCurrentIndex(0);
        m_filter->addItem(tr("Alarms only"));
        m_filter->setCurrentIndex(m_doc.context().viewFlags().filterIndex() == ViewFlags::AlarmsOnly ? 1 : 0);
    }
    m_doc.initialise();
    m_tree->databaseChanged();
    m_tree->rebuild();
    const ProgramConfig& config = m_doc.context().config();
    // The link comes up with the watcher's first probe; made here (as a job: the window does
    // not wait for the instrument) before the watcher runs, it lets the first read below reach
    // the instrument instead of waiting a whole interval.
    if (!m_doc.state().watcherRunning.load() && m_doc.state().localMode.load() && m_doc.mainDatabaseShown())
        m_doc.probeJob();
    m_scheduler->restart(config.downloadingInterval);
    if (!m_doc.state().watcherRunning.load() && config.localMode)
        m_doc.startWatcher();
    updateCommands();
}

void CMainFrame::filterChanged(int index)
{
    if (index < 0)
        return;
    m_list->eventModel().setFilterIndex(index);
    updateCommands();
}

void CMainFrame::addInstrumentNode(const CPager& pager)
{
    m_tree->addInstrumentNode(pager);
}

void CMainFrame::addDayNode(const QString& pagerId, qint64 day)
{
    m_tree->addDayNode(pagerId, day);
}

void CMainFrame::rebuildTree()
{
    m_tree->rebuild();
}

void CMainFrame::showDay(const QString& pagerId, const QString& dateText)
{
    m_list->showDay(pagerId, dateText);
    const auto known = m_thresholds.find(pagerId);
    m_chart->setThresholds(known == m_thresholds.end() ? std::nullopt : std::optional<CUserParams>(known->second));
}

void CMainFrame::setKnownThresholds(const QString& pagerId, const CUserParams& params)
{
    m_thresholds[pagerId] = params;
    if (m_list->eventModel().pagerId() == pagerId)
        m_chart->setThresholds(params);
}

bool CMainFrame::insertEventAtTop(const ChistoryRec& record)
{
    return m_list->insertEvent(record, 0);
}

void CMainFrame::insertEvents(const std::vector<ChistoryRec>& oldestFirst)
{
    m_list->insertEvents(oldestFirst);
}

void CMainFrame::markAlarmDay(const QString& pagerId, qint64 day)
{
    m_tree->treeModel().setDayAlarm(pagerId, day, true);
}

void CMainFrame::refreshEvent(const ChistoryRec& record)
{
    m_list->refreshEvent(record);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_doc.busy()) {
        // The operation in progress has the stack; the question comes once it has ended.
        event->ignore();
        m_doc.whenIdle([guard = QPointer<CMainFrame>(this)] {
            if (guard)
                guard->close();
        });
        return;
    }
    if (!m_closing) {
        const int answer = WidgetMessenger::runBox(this, tr("Operation confirmation"), tr("Do you want to exit?"),
            Messenger::Ok | Messenger::Cancel, Messenger::Icon::Question, Messenger::Ok, 0);
        if (answer != Messenger::Ok) {
            event->ignore();
            return;
        }
    }
    m_closing = true;
    m_scheduler->stop();
    event->accept();
}

DocumentHost& CMainFrame::host()
{
    return *m_host;
}
