// KESTRA: the window program.
#include "config/applog.h"
#include "document/appcontext.h"
#include "document/kestradoc.h"
#include "ui/kestradevview.h"
#include "ui/mainframe.h"
#include "ui/startup.h"
#include "ui/walkthrough.h"
#include "ui/widgetmessenger.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KESTRA"));
    QApplication::setApplicationVersion(Startup::version());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("KESTRA Software"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"), QStringLiteral("The program folder."), QStringLiteral("DIR"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to FILE once it has started, then end."), QStringLiteral("FILE"));
    const QCommandLineOption unattended(QStringLiteral("unattended"),
        QStringLiteral("Message boxes close themselves after MS milliseconds (for runs without a person)."),
        QStringLiteral("MS"));
    const QCommandLineOption walkthrough(QStringLiteral("walkthrough"),
        QStringLiteral("Walk through a download, a day, the alarm filter and the print preview without a person, "
                       "saving pictures and the printed day into DIR, then end."),
        QStringLiteral("DIR"));
    parser.addOptions({ home, screenshot, unattended, walkthrough });
    // A usage error is one line and exit code 2, as with the other programs of the project.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "KESTRA: %s (KESTRA --help shows the options)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "KESTRA: unexpected argument %s (KESTRA --help shows the options)\n",
            qPrintable(parser.positionalArguments().constFirst()));
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
    Startup::loadTranslation(app, context.config().language, translator, folder.path());

    // The one-copy check comes before the log is started (which empties it): a second copy
    // must not empty the log of the copy that runs. The lock is held until the program ends.
    Startup::InstanceLock lock;
    if (!lock.acquire(2000)) {
        WidgetMessenger::runBox(nullptr, QString::fromLatin1(CKESTRADoc::ApplicationName),
            QCoreApplication::translate("Startup", "Software is already running."), Messenger::Ok,
            Messenger::Icon::Warning, 0, unattendedMs);
        return 1;
    }
    AppLog::start(folder.logPath());
    for (const QString& problem : context.configProblems())
        AppLog::write(QStringLiteral("Configuration: ") + problem);

    int code = 0;
    {
        CKESTRADoc doc(context);
        CMainFrame frame(doc);
        frame.setUnattended(unattendedMs);
        // Without a window manager (a virtual screen) maximising does nothing; the size is set first.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            frame.resize(screen->availableSize());
        frame.showMaximized();
        const QString shot = parser.value(screenshot);
        const QString walk = parser.value(walkthrough);
        QTimer::singleShot(0, &frame, [&frame, shot, walk] {
            frame.start();
            if (!walk.isEmpty()) {
                frame.setUnattended(1500);
                (new Walkthrough(frame, walk))->start();
                return;
            }
            if (!shot.isEmpty()) {
                // The picture shows the first instrument's last day.
                CKESTRADevView& tree = frame.treeView();
                tree.expandAll();
                const QModelIndex first = tree.model()->index(0, 0);
                if (const int days = tree.model()->rowCount(first); days > 0)
                    tree.setCurrentIndex(tree.model()->index(days - 1, 0, first));
                // Let the layout settle and the views paint before the picture.
                QTimer::singleShot(3000, &frame, [&frame, shot] {
                    const bool saved = frame.grab().save(shot);
                    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", shot.toLocal8Bit().constData());
                    frame.setUnattended(1);
                    QApplication::exit(saved ? 0 : 1);
                });
            }
        });
        code = QApplication::exec();
    }
    return code;
}
