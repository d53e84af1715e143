// kestra-cli: the document's operations without a window, for headless stations and scripts.
// Uses the program folder and configuration of the window program.
#include "config/password.h"
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/historyspool.h"
#include "document/cliargs.h"
#include "document/cliexport.h"
#include "document/climigrate.h"
#include "document/documentrequesthandler.h"
#include "document/historyscheduler.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/historyfiles.h"
#include "history/localtime.h"
#include "history/messenger.h"
#include "history/querymode.h"
#include "history/viewflags.h"
#include "remote/remoteserver.h"
#include "web/stationweb.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <termios.h>
#include <unistd.h>

namespace {

enum Exit { Ok = 0, Failed = 1, Usage = 2, NoDatabase = 3, NoInstrument = 4 };

void out(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void err(const QString& text)
{
    std::fputs(("kestra-cli: " + text).toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

// Messages go to the standard error; questions get "No" (there is nobody to ask).
class ConsoleMessenger final : public Messenger {
public:
    int ask(const QString& caption, const QString& text, int buttons, Icon) override
    {
        err(caption + u' ' + QString(text).replace(u'\n', u' ') + QStringLiteral(" [answered no]"));
        return (buttons & No) ? No : Cancel;
    }
    void tell(const QString& caption, const QString& text, Icon icon) override
    {
        const QString line = caption + u' ' + QString(text).replace(u'\n', u' ');
        if (icon == Icon::Information)
            out(line);
        else
            err(line);
    }
    void progressStart(const QString&, int, ProgressKind) override { }
    void progressStep() override { }
    void progressStop() override { }
};

class ConsoleHost final : public DocumentHost {
public:
    explicit ConsoleHost(const QString& iniPath)
        : m_iniPath(iniPath)
    {
    }
    void setWindowTitle(const QString&) override { }
    std::optional<QString> promptPassword() override { return std::nullopt; }
    bool openProgramSettings() override
    {
        err(QStringLiteral("settings are in %1; use --port to choose a port").arg(m_iniPath));
        return false;
    }
    void exitApplication() override { }
    // A station serves other computers while it waits for its own jobs (the default keepAlive
    // turns the event loop).

private:
    QString m_iniPath;
};

// watch reports what arrives.
class ConsoleViews final : public DocumentViews {
public:
    void addInstrumentNode(const CPager& pager) override
    {
        out(QStringLiteral("new instrument %1").arg(pager.identifier()));
    }
    void addDayNode(const QString& id, qint64 day) override
    {
        out(QStringLiteral("new day %1 of %2").arg(LocalTime::format(day, "%Y-%m-%d"), id));
    }
    void rebuildTree() override { }
    void showDay(const QString&, const QString&) override { }
    bool insertEventAtTop(const ChistoryRec&) override { return true; }
};

volatile std::sig_atomic_t g_stop = 0;
int g_stopPipe[2] = { -1, -1 };

void onSignal(int)
{
    g_stop = 1;
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_stopPipe[1], &c, 1);
}

// The day of a date argument, or 0.
qint64 parseDate(const QString& text)
{
    try {
        return CPager::parseDayText(text);
    } catch (const std::exception&) {
        return 0;
    }
}

class Cli {
public:
    Cli(CKESTRADoc& doc, const CliArgs& args)
        : m_doc(doc)
        , m_context(doc.context())
        , m_args(args)
    {
    }

    int run()
    {
        const QString& c = m_args.command;
        // The command and the number of its words are checked by CliArgs.
        if (c == u"download" || c == u"watch" || c == u"serve") {
            if (!m_args.remote.isEmpty())
                return usage(c + QStringLiteral(" works on the instrument of this computer"));
            return c == u"download" ? download() : watch(c == u"serve");
        }
        if (c == u"password") {
            if (!m_args.remote.isEmpty())
                return usage(QStringLiteral("password sets this computer's station password"));
            return setPassword();
        }
        if (c == u"migrate") {
            if (!m_args.remote.isEmpty())
                return usage(QStringLiteral("migrate works on the databases it names"));
            return runMigrate(m_args.positional[0], m_args.positional[1], m_args.json);
        }
        if (!m_args.remote.isEmpty() && (c == u"import" || c == u"archive" || c == u"rename"))
            return usage(c + QStringLiteral(" works on this computer's database only"));
        if (const int e = m_args.remote.isEmpty() ? openDatabase() : openRemote(); e != Ok)
            return e;
        if (c == u"instruments")
            return instruments();
        if (c == u"import")
            return importFile();
        if (c == u"archive")
            return archive();
        if (c == u"export" && !m_args.format.isEmpty())
            return exportText();
        CPager* pager = instrument(m_args.positional[0]);
        if (!pager)
            return Failed;
        if (c == u"days")
            return days(*pager);
        if (c == u"rename")
            return rename(*pager);
        const qint64 date = parseDate(m_args.positional[1]);
        if (date == 0)
            return usage(QStringLiteral("not a date: ") + m_args.positional[1]);
        if (c == u"events")
            return events(*pager, date);
        const CHistoryList* day = m_doc.dayEvents(pager->identifier(), date, QueryMode::AllEvents);
        const QString& file = m_args.positional[2];
        if (c == u"export")
            return HistoryFiles::exportDay(m_context.messenger(), day, file, ViewFlags::AllEvents) ? Ok : Failed;
        return HistoryFiles::saveAsText(
                   m_context.messenger(), day, file, ViewFlags::AllEvents, m_context.viewFlags().unitsRoentgen())
            ? Ok
            : Failed;
    }

    // A usage error is one line: a script's log shows what was wrong, --help the rest.
    static int usage(const QString& problem)
    {
        QString line;
        for (const QChar c : problem) {
            if (c.category() == QChar::Other_Control)
                line += QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QChar(u'0'));
            else
                line += c;
        }
        err(line + QStringLiteral(" (kestra-cli --help shows the commands)"));
        return Usage;
    }

private:
    // Database commands work on this computer's database and leave the instrument alone.
    int openDatabase()
    {
        m_doc.state().localMode = true;
        // A server address is used as it is; a path lies below the program folder.
        const QString configured = m_context.config().databasePath;
        const QString path
            = StoreAddress::isServerAddress(configured) ? configured : m_context.folder().filePath(configured);
        QString error;
        if (!m_context.store().open(path, HistoryDb::OpenMode::Existing, &error)) {
            err(error.isEmpty() ? QStringLiteral("no event database at %1").arg(path) : error);
            return NoDatabase;
        }
        // Downloads that a stopped run cleared from the instrument but never stored go in
        // before anything reads the store.
        if (const int waiting = static_cast<int>(HistorySpool(m_context.device().spoolFolder()).pending().size());
            waiting > 0) {
            const int stored = m_doc.storePendingDownloads();
            if (stored < waiting)
                err(QStringLiteral("%1 downloaded histories are waiting in %2 and could not be stored yet")
                        .arg(QString::number(waiting - stored),
                            HistorySpool(m_context.device().spoolFolder()).folder()));
        }
        if (!m_doc.loadInstrumentList()) {
            err(QStringLiteral("the event database %1 cannot be read").arg(path));
            return NoDatabase;
        }
        return Ok;
    }

    // Read commands through a server: the instrument list comes with request 0, days with
    // request 1; the configuration is not changed.
    int openRemote()
    {
        if (!m_doc.useServer(m_args.remote))
            return usage(QStringLiteral("not a server: %1 (HOST:PORT)").arg(m_args.remote));
        if (!m_doc.loadInstrumentList()) {
            err(QStringLiteral("the server %1 does not answer").arg(m_args.remote));
            return Failed;
        }
        return Ok;
    }

    CPager* instrument(const QString& id)
    {
        if (CPager* p = m_doc.pagers().find(id))
            return p;
        err(QStringLiteral("no instrument %1 in the database").arg(id));
        return nullptr;
    }

    int instruments()
    {
        CPagerList& list = m_doc.pagers();
        for (int i = 0; i < list.count(); ++i) {
            const CPager* p = list.instrumentAt(i);
            out(QStringLiteral("%1\t%2\t%3 days")
                    .arg(p->identifier(), p->displayName(), QString::number(p->days().size())));
        }
        return Ok;
    }

    int days(const CPager& pager)
    {
        for (const auto& [day, list] : pager.days())
            out(LocalTime::format(day, "%Y-%m-%d") + (list.hasAlarms ? QStringLiteral(" *") : QString()));
        return Ok;
    }

    int events(const CPager& pager, qint64 date)
    {
        CHistoryList sorted;
        if (m_args.alarms) {
            sorted = m_doc.alarmEvents(pager.identifier(), date, 1);
        } else if (const CHistoryList* day = m_doc.dayEvents(pager.identifier(), date, QueryMode::AllEvents)) {
            sorted = *day;
        }
        sorted.sort();
        const bool roentgen = m_context.viewFlags().unitsRoentgen();
        if (m_args.json) {
            QJsonArray array;
            for (const ChistoryRec& r : sorted.records()) {
                array.append(QJsonObject { { QStringLiteral("time"), r.hDateTime },
                    { QStringLiteral("date"), r.dateText() }, { QStringLiteral("clock"), r.timeText() },
                    { QStringLiteral("type"), r.hType }, { QStringLiteral("event"), r.eventTypeText() },
                    { QStringLiteral("value"), r.hValue }, { QStringLiteral("valueText"), r.valueText(roentgen) },
                    { QStringLiteral("alarmBits"), r.hAlarm }, { QStringLiteral("alarm"), r.alarmText() },
                    { QStringLiteral("comment"), r.hComment.trimmed() }, { QStringLiteral("key"), r.hID } });
            }
            out(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)).trimmed());
            return Ok;
        }
        for (const ChistoryRec& r : sorted.records()) {
            out(QStringList { r.dateText(), r.timeText(), r.eventTypeText(), r.valueText(roentgen), r.alarmText(),
                r.commentText().trimmed() }
                    .join(u'\t'));
        }
        return Ok;
    }

    int exportText()
    {
        const CliExport::Outcome outcome
            = CliExport::run(m_doc, m_args, !m_args.remote.isEmpty(), m_context.viewFlags().unitsRoentgen());
        if (outcome.kind == CliExport::Outcome::Usage)
            return usage(outcome.text);
        if (outcome.kind == CliExport::Outcome::Failed) {
            err(outcome.text);
            return Failed;
        }
        // The data itself may be on the standard output.
        if (m_args.positional.last() != u"-")
            out(outcome.text);
        return Ok;
    }

    int importFile()
    {
        int added = 0;
        if (!m_doc.importHistory(m_args.positional[0], &added))
            return Failed;
        out(QStringLiteral("imported %1 new events").arg(added));
        return Ok;
    }

    int archive()
    {
        const qint64 now = std::time(nullptr);
        QString destination;
        if (!m_args.positional.isEmpty()) {
            destination = m_args.positional[0];
        } else {
            const QString folder = HistoryFiles::archivesFolder(m_context.folder().path());
            if (folder.isEmpty()) {
                err(QStringLiteral("the archives folder cannot be made"));
                return Failed;
            }
            destination = folder + u'/' + HistoryFiles::archiveFileName(now);
        }
        if (!HistoryFiles::archive(m_context.messenger(), *m_context.store().current(), destination, now))
            return Failed;
        out(destination);
        return Ok;
    }

    int rename(CPager& pager)
    {
        const QString name = m_args.positional[1].trimmed();
        if (name.isEmpty())
            return usage(QStringLiteral("the name is empty"));
        pager.setName(name);
        try {
            return m_context.store().current()->saveInstrumentName(pager) ? Ok : Failed;
        } catch (const DbError& e) {
            err(QString::fromUtf8(e.what()));
            return Failed;
        }
    }

    // Opens the database and the link, as the window does at start-up.
    int startLocal()
    {
        m_doc.setPortOverride(m_args.port);
        if (!m_context.config().localMode) {
            // The configuration is shared with the window; it is not changed behind its back.
            err(QStringLiteral("the program is set to remote mode in %1; download and watch need the local "
                               "instrument")
                    .arg(m_context.folder().iniPath()));
            return Usage;
        }
        if (!m_doc.initialise()) {
            err(QStringLiteral("the event database cannot be opened"));
            return NoDatabase;
        }
        return Ok;
    }

    int download()
    {
        if (const int e = startLocal(); e != Ok)
            return e;
        m_doc.watcherProbe(); // forces the port check and brings the link up
        if (!m_doc.state().connected()) {
            err(QStringLiteral("no instrument answers on %1").arg(m_doc.state().portName()));
            return NoInstrument;
        }
        int stored = 0;
        bool committed = true;
        QObject::connect(&m_doc, &CKESTRADoc::historyStored, [&](const QString& id, int count, int newOnes, bool ok) {
            if (ok)
                out(QStringLiteral("%1: %2 events read, %3 new in the database")
                        .arg(id, QString::number(count), QString::number(newOnes)));
            else
                err(QStringLiteral("%1: %2 events read but not stored; they are kept for the next run")
                        .arg(id, QString::number(count)));
            stored += count;
            committed = committed && ok;
        });
        const bool read = m_doc.readHistory();
        if (!read && !m_doc.state().connected()) {
            err(QStringLiteral("the history could not be read"));
            return NoInstrument;
        }
        if (stored == 0)
            out(QStringLiteral("no new events"));
        return committed ? Ok : Failed;
    }

    int watch(bool serve)
    {
        if (const int e = startLocal(); e != Ok)
            return e;
        DocumentRequestHandler backend(m_doc);
        CPool pool(&backend);
        if (serve) {
            const int port = m_args.listen >= 0 ? m_args.listen : m_context.config().serverPort;
            const QHostAddress address
                = m_args.listenAddress.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(m_args.listenAddress);
            if (!pool.start(address, static_cast<quint16>(port))) {
                err(QStringLiteral("Error (%1) during server socket creating: %2")
                        .arg(QString::number(pool.lastError()), pool.lastErrorText()));
                m_doc.stopBackground();
                return Failed;
            }
            out(m_args.listenAddress.isEmpty() ? QStringLiteral("serving on port %1").arg(pool.port())
                                               : QStringLiteral("serving on %1 port %2")
                                                     .arg(pool.address().toString(), QString::number(pool.port())));
            if (!Password::isSet(m_context.config().passwordDigest))
                err(QStringLiteral("this station has no password: other computers may read it, but not change the "
                                   "instrument's settings or comments (kestra-cli password sets one)"));
            // With no tree to select from, the station's current instrument is the one it reads.
            QObject::connect(&m_doc, &CKESTRADoc::historyStored, [this](const QString& id) {
                if (m_doc.state().currentInstrument().isEmpty())
                    m_doc.state().setCurrentInstrument(id);
            });
        }
        StationWeb web(m_doc);
        web.setStationPool(&pool);
        // A service's standard error goes to its journal.
        QObject::connect(
            &web, &StationWeb::refused, [](const QString& text) { err(QStringLiteral("web: refused ") + text); });
        QTranslator translator;
        if (m_args.http >= 0) {
            // The page follows the language setting of the station's program.
            if (m_context.config().language == 1) {
                const QString appFolder = QCoreApplication::applicationDirPath();
                for (const QString& folder : { m_context.folder().path(), appFolder,
                         appFolder + QStringLiteral("/../share/kestra/translations") }) {
                    if (translator.load(QStringLiteral("kestra_ru"), folder)) {
                        QCoreApplication::installTranslator(&translator);
                        break;
                    }
                }
            }
            const QHostAddress address = m_args.httpAddress.isEmpty() ? QHostAddress(QHostAddress::LocalHost)
                                                                      : QHostAddress(m_args.httpAddress);
            if (!web.start(address, static_cast<quint16>(m_args.http))) {
                err(QStringLiteral("the web server cannot listen on %1 port %2: %3")
                        .arg(address.toString(), QString::number(m_args.http), web.lastErrorText()));
                pool.stop();
                m_doc.stopBackground();
                return Failed;
            }
            out(QStringLiteral("web server on http://%1:%2/")
                    .arg(web.address().protocol() == QAbstractSocket::IPv6Protocol
                            ? u'[' + web.address().toString() + u']'
                            : web.address().toString(),
                        QString::number(web.port())));
        }
        ConsoleViews views;
        m_doc.setViews(&views);
        QObject::connect(
            &m_doc, &CKESTRADoc::historyStored, [](const QString& id, int count, int added, bool committed) {
                out(QStringLiteral("%1 %2: %3 events read, %4 new%5")
                        .arg(LocalTime::format(std::time(nullptr), "%Y-%m-%d %H:%M:%S"), id, QString::number(count),
                            QString::number(added),
                            committed ? QString() : QStringLiteral(" (not stored; kept for the next run)")));
            });
        QObject::connect(
            &m_doc, &CKESTRADoc::historyTimerRestartRequested, [] { out(QStringLiteral("alarm: reading history")); });
        HistoryScheduler scheduler(m_doc);

        if (::pipe(g_stopPipe) == 0) {
            std::signal(SIGINT, onSignal);
            std::signal(SIGTERM, onSignal);
        }
        QSocketNotifier stopper(g_stopPipe[0], QSocketNotifier::Read);
        QObject::connect(&stopper, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
        if (m_args.forSeconds >= 0)
            QTimer::singleShot(m_args.forSeconds * 1000, [] { QCoreApplication::quit(); });

        out(QStringLiteral("watching %1 (%2)").arg(m_doc.state().portName(), m_doc.title()));
        m_doc.watcherProbe();
        scheduler.restart(m_context.config().downloadingInterval);
        m_doc.startWatcher();
        if (!g_stop)
            QCoreApplication::exec();
        scheduler.stop();
        web.stop();
        pool.stop();
        m_doc.stopBackground();
        m_doc.setViews(nullptr);
        out(QStringLiteral("stopped"));
        return Ok;
    }

    // The password comes from the terminal, asked twice without echo, or as one line of the
    // standard input (for scripts); it is stored as the digest the station checks.
    int setPassword()
    {
        QString password;
        if (::isatty(STDIN_FILENO)) {
            const std::optional<QString> first = readHidden("New password: ");
            const std::optional<QString> second = first ? readHidden("Confirm new password: ") : std::nullopt;
            if (!second)
                return Failed;
            if (*first != *second) {
                err(QStringLiteral("the two entries differ; the password is unchanged"));
                return Failed;
            }
            password = *first;
        } else {
            const std::optional<QString> line = readLine();
            if (!line) {
                err(QStringLiteral("the password line is too long or cannot be read"));
                return Failed;
            }
            password = *line;
        }
        QString error;
        if (!Password::storeNewPassword(m_context.config(), password, &error)) {
            err(error.isEmpty() ? QStringLiteral("no password given; the password is unchanged") : error);
            return Failed;
        }
        out(QStringLiteral("password set in %1 (a running station takes it when it starts again)")
                .arg(m_context.config().iniPath));
        return Ok;
    }

    // One line of the standard input without its line end; nothing past the bound or at an
    // error.
    static std::optional<QString> readLine()
    {
        constexpr int bound = 1024;
        char buffer[bound + 2];
        if (!std::fgets(buffer, sizeof buffer, stdin))
            return std::feof(stdin) ? std::optional<QString>(QString()) : std::nullopt;
        QByteArray line(buffer);
        const bool ended = line.endsWith('\n');
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (!ended && line.size() >= bound)
            return std::nullopt;
        return QString::fromLocal8Bit(line);
    }

    static std::optional<QString> readHidden(const char* prompt)
    {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        termios saved {};
        const bool hidden = ::tcgetattr(STDIN_FILENO, &saved) == 0;
        if (hidden) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
        const std::optional<QString> line = readLine();
        if (hidden)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
        return line;
    }

    CKESTRADoc& m_doc;
    AppContext& m_context;
    const CliArgs& m_args;
};

} // namespace

// serve --http draws charts, which needs the fonts of a GUI application; a station has no
// display, so it draws off screen. Only a line that will serve makes one.
bool wantsCharts(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CliArgs args = CliArgs::parse(arguments);
    return args.error.isEmpty() && !args.help && !args.version && args.command == u"serve" && args.http >= 0;
}

int main(int argc, char** argv)
{
    std::unique_ptr<QCoreApplication> application;
    if (wantsCharts(argc, argv)) {
        if (!std::getenv("QT_QPA_PLATFORM"))
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        application = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication& app = *application;
    const CliArgs args = CliArgs::parse(app.arguments());
    if (!args.error.isEmpty())
        return Cli::usage(args.error);
    if (args.help || args.version) {
        out((args.help ? CliArgs::usageText() : CliArgs::versionText()).trimmed());
        return Ok;
    }

    // The folder is the one the command line names, as the parser read it.
    QStringList folderArguments { app.arguments().first() };
    if (!args.home.isEmpty())
        folderArguments << QStringLiteral("--home") << args.home;
    QString error;
    const ProgramFolder folder = ProgramFolder::fromArguments(folderArguments);
    if (!folder.make(&error)) {
        err(QStringLiteral("the program folder cannot be used: ") + error);
        return Failed;
    }
    AppContext context(folder);
    for (const QString& problem : context.configProblems())
        err(QStringLiteral("configuration: ") + problem);

    ConsoleMessenger messenger;
    context.setMessenger(&messenger);
    ConsoleHost host(folder.iniPath());
    CKESTRADoc doc(context);
    doc.setHost(&host);
    Cli cli(doc, args);
    return cli.run();
}
