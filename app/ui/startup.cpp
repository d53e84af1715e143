#include "ui/startup.h"

#include "config/applog.h"
#include "document/appcontext.h"
#include "document/kestradoc.h"
#include "ui/mainframe.h"
#include "ui/widgetmessenger.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

#ifndef KESTRA_VERSION
#define KESTRA_VERSION "0.0.0"
#endif

namespace Startup {

QString fourPartVersion(const QString& version)
{
    QStringList parts = version.split(u'.', Qt::SkipEmptyParts);
    while (parts.size() > 4)
        parts.removeLast();
    QStringList numbers;
    for (const QString& p : parts) {
        bool ok = false;
        const uint n = p.toUInt(&ok);
        numbers << QString::number(ok ? n : 0);
    }
    while (numbers.size() < 4)
        numbers << QStringLiteral("0");
    return numbers.join(u'.');
}

QString version()
{
    return fourPartVersion(QStringLiteral(KESTRA_VERSION));
}

QString aboutText()
{
    return QCoreApplication::translate("Startup", "KESTRA Software, Version %1").arg(version());
}

void showAbout(QWidget* parent)
{
    QMessageBox box(parent);
    box.setWindowTitle(QCoreApplication::translate("Startup", "About KESTRA"));
    box.setIconPixmap(QIcon(QStringLiteral(":/icons/kestra.svg")).pixmap(48, 48));
    box.setText(aboutText());
    box.setInformativeText(QCoreApplication::translate("Startup", "Copyright (C) %1").arg(QDate::currentDate().year()));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool loadTranslation(QCoreApplication& app, int language, QTranslator& translator, const QString& programFolder)
{
    if (language != 1)
        return false;
    const QString appFolder = QCoreApplication::applicationDirPath();
    const QStringList folders { programFolder, appFolder, appFolder + QStringLiteral("/translations"),
        appFolder + QStringLiteral("/../share/kestra/translations"), QStringLiteral(":/i18n") };
    for (const QString& folder : folders) {
        if (!folder.isEmpty() && translator.load(QStringLiteral("kestra_ru"), folder)) {
            app.installTranslator(&translator);
            // Qt's own texts (the standard buttons, the file and print dialogs) from Qt's
            // translation, when the system has it; it goes with the program's.
            auto* qtTexts = new QTranslator(&translator);
            if (qtTexts->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
                app.installTranslator(qtTexts);
            else
                delete qtTexts;
            return true;
        }
    }
    return false;
}

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock()
{
    release();
}

QString InstanceLock::path()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + u'/' + QString::fromLatin1(Name) + QStringLiteral(".lock");
}

bool InstanceLock::acquire(int waitMs)
{
    if (m_held)
        return true;
    m_lock = std::make_unique<QLockFile>(path());
    // A lock left by a copy that died is taken over (its process no longer exists).
    m_lock->setStaleLockTime(0);
    m_held = m_lock->tryLock(waitMs);
    return m_held;
}

void InstanceLock::release()
{
    if (m_lock && m_held)
        m_lock->unlock();
    m_held = false;
}

int runWindow(QApplication& app, const QList<QCommandLineOption>& extra,
    const std::function<void(CMainFrame&, const QCommandLineParser&)>& started)
{
    QApplication::setApplicationName(QStringLiteral("KESTRA"));
    QApplication::setApplicationVersion(version());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("KESTRA Software"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("The program folder."), QStringLiteral("DIR"));
    const QCommandLineOption unattended(QStringLiteral("unattended"),
        QStringLiteral("Message boxes close themselves after MS milliseconds (for runs without a person)."),
        QStringLiteral("MS"));
    parser.addOptions(QList<QCommandLineOption> { home, unattended } + extra);
    // A usage error is one line and exit code 2, as with the other programs of the project.
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s: %s (%s --help shows the options)\n", qPrintable(program),
            qPrintable(parser.errorText()), qPrintable(program));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument %s (%s --help shows the options)\n", qPrintable(program),
            qPrintable(parser.positionalArguments().constFirst()), qPrintable(program));
        return 2;
    }
    const int unattendedMs = parser.isSet(unattended) ? std::max(1, parser.value(unattended).toInt()) : 0;

    QString error;
    const ProgramFolder folder = ProgramFolder::fromArguments(app.arguments());
    if (!folder.make(&error)) {
        WidgetMessenger::runBox(nullptr, QStringLiteral("Error!"),
            QStringLiteral("The program folder cannot be used: %1").arg(error), Messenger::Ok, Messenger::Icon::Error,
            0, unattendedMs);
        return 1;
    }
    AppContext context(folder);
    QTranslator translator;
    loadTranslation(app, context.config().language, translator, folder.path());

    // The one-copy check comes before the log is started (which empties it): a second copy
    // must not empty the log of the copy that runs. The lock is held until the program ends.
    InstanceLock lock;
    if (!lock.acquire(2000)) {
        WidgetMessenger::runBox(nullptr, QString::fromLatin1(CKESTRADoc::ApplicationName),
            QCoreApplication::translate("Startup", "Software is already running."), Messenger::Ok,
            Messenger::Icon::Warning, 0, unattendedMs);
        return 1;
    }
    AppLog::start(folder.logPath());
    for (const QString& problem : context.configProblems())
        AppLog::write(QStringLiteral("Configuration: ") + problem);

    CKESTRADoc doc(context);
    CMainFrame frame(doc);
    frame.setUnattended(unattendedMs);
    // Without a window manager (a virtual screen) maximising does nothing; the size is set first.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        frame.resize(screen->availableSize());
    frame.showMaximized();
    QTimer::singleShot(0, &frame, [&frame, &parser, started] {
        frame.start();
        if (started)
            started(frame, parser);
    });
    return QApplication::exec();
}

} // namespace Startup
