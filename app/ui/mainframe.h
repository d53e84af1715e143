#pragma once

#include "document/documentui.h"
#include "history/userparams.h"
#include "ui/commandstate.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class CKESTRADevView;
class CKESTRADoc;
class CKESTRAView;
class CPool;
class StationWeb;
class DayChartView;
class DoseReport;
class EventListPrinter;
class HistoryDb;
class HistoryScheduler;
class QComboBox;
class QSplitter;
class QToolBar;
class WidgetMessenger;
class DocumentRequestHandler;

// The window: the instrument tree and the event list side by side, the menu, the toolbar with
// the event filter, the status bar with its progress bar, the history timer and the server.
// It shows what the document reports (DocumentViews) and answers what it asks (through the
// messenger it installs and its DocumentHost).
class CMainFrame final : public QMainWindow, public DocumentViews {
    Q_OBJECT
public:
    using Command = Commands::Id;

    explicit CMainFrame(CKESTRADoc& doc, QWidget* parent = nullptr);
    ~CMainFrame() override; // stops the server and waits for the background threads

    // The rest of the window's creation: the remote mode's settings, the server, the first
    // re-initialisation. Separate from the constructor so that the window shows first.
    void start();
    // Serves this computer's instrument as the settings say (operate as server, its port, the web
    // page); a server whose setting changed is stopped and started again, the others are kept.
    void applyServerSettings();
    // Initialises the document again and rebuilds the tree; restarts the history timer and
    // the watcher as the mode wants.
    void reinitialise();

    // The command's action (menu, toolbar and keys share it).
    QAction* action(Command command) const { return m_actions[static_cast<size_t>(command)]; }
    // Runs a command when it is enabled now; false when it was not.
    bool runCommand(Command command);
    // Computes every command's enablement from the present state.
    void updateCommands();
    Commands::Context commandContext() const;

    CKESTRADoc& document() const { return m_doc; }
    CKESTRADevView& treeView() const { return *m_tree; }
    CKESTRAView& listView() const { return *m_list; }
    DayChartView& chartView() const { return *m_chart; }
    // The thresholds read from an instrument this run, by its identifier; the charts draw them.
    void setKnownThresholds(const QString& pagerId, const CUserParams& params);
    QComboBox& filterBox() const { return *m_filter; }
    WidgetMessenger& messenger() const { return *m_messenger; }
    HistoryScheduler& scheduler() const { return *m_scheduler; }
    CPool* server() const { return m_server.get(); }
    StationWeb* webServer() const { return m_web.get(); }
    DocumentHost& host();

    // Message boxes close themselves (see WidgetMessenger::setUnattended).
    void setUnattended(int ms);

    // DocumentViews
    void addInstrumentNode(const CPager& pager) override;
    void addDayNode(const QString& pagerId, qint64 day) override;
    void markAlarmDay(const QString& pagerId, qint64 day) override;
    void rebuildTree() override;
    void showDay(const QString& pagerId, const QString& dateText) override;
    bool insertEventAtTop(const ChistoryRec& record) override;
    void insertEvents(const std::vector<ChistoryRec>& oldestFirst) override;
    void refreshEvent(const ChistoryRec& record) override;

signals:
    // A dialog of another part of the window was asked for ("DeviceConfig", "COnlineMode",
    // "CProgramSettings", "About"), after its checks passed.
    void dialogOpened(const QString& name);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class Host;

    void createActions();
    void createMenus();
    void createToolBar();
    void createShortcuts();
    void filterChanged(int index);

    // Commands (mainframecommands.cpp).
    void importHistory();
    void exportHistory();
    void saveHistoryAs();
    void downloadHistory();
    void printHistory();
    void printPreview();
    void tellPrintFailed(const QString& target);
    void doseReport(); // mainframereport.cpp
    DoseReport buildDoseReport(const QString& id, qint64 from, qint64 to, const std::optional<CUserParams>& thresholds);
    // The store whose events are the ones shown: this computer's, or an archive viewed here.
    // None in remote mode, where the events are the server's.
    HistoryDb* shownStore() const;
    void archiveDatabase();
    void viewArchive();
    void switchToMain();
    void onlineMode();
    void readHistory();
    void editComment();
    void instrumentSettings();
    void programSettings();
    void about();
    void rangeView();
    // The day that Export, Save As and printing work on; nullptr when none.
    const CHistoryList* currentDay();
    QString archivesFolder() const;
    friend class Walkthrough;
    // The printed form of the event list as it is shown.
    EventListPrinter eventListPrinter() const;

    // The dialogs of the other parts of the window, one function each.
    void openDeviceConfig();
    void openOnlineMode();
    void openRangeView();
    bool openProgramSettingsDialog();
    std::optional<QString> promptPassword();

    CKESTRADoc& m_doc;
    std::unique_ptr<Host> m_host;
    std::unique_ptr<WidgetMessenger> m_messenger;
    std::unique_ptr<HistoryScheduler> m_scheduler;
    std::unique_ptr<DocumentRequestHandler> m_backend;
    std::unique_ptr<CPool> m_server;
    std::unique_ptr<StationWeb> m_web;
    // The settings the servers run with: "<port>|<web page>", empty while none runs.
    QString m_serving;
    QSplitter* m_splitter = nullptr;
    CKESTRAView* m_list = nullptr;
    DayChartView* m_chart = nullptr;
    std::map<QString, CUserParams> m_thresholds;
    CKESTRADevView* m_tree = nullptr;
    QToolBar* m_toolbar = nullptr;
    QComboBox* m_filter = nullptr;
    std::array<QAction*, static_cast<size_t>(Command::Count)> m_actions {};
    bool m_closing = false;
    bool m_stopped = false;
};
