// kestra-window-demo: the window program for the demo and for the tests that need its picture.
// Besides KESTRA's own options, --walkthrough DIR walks through the window without a person and
// --screenshot FILE saves one picture; both end the program.
#include "ui/demo/walkthrough.h"
#include "ui/kestradevview.h"
#include "ui/mainframe.h"
#include "ui/startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

namespace {

// The picture shows the first instrument's last day, once the views have painted.
void screenshot(CMainFrame& frame, const QString& path)
{
    CKESTRADevView& tree = frame.treeView();
    tree.expandAll();
    const QModelIndex first = tree.model()->index(0, 0);
    if (const int days = tree.model()->rowCount(first); days > 0)
        tree.setCurrentIndex(tree.model()->index(days - 1, 0, first));
    QTimer::singleShot(3000, &frame, [&frame, path] {
        const bool saved = frame.grab().save(path);
        std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", path.toLocal8Bit().constData());
        frame.setUnattended(1);
        QApplication::exit(saved ? 0 : 1);
    });
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QCommandLineOption shot(QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to FILE once it has started, then end."), QStringLiteral("FILE"));
    const QCommandLineOption walk(QStringLiteral("walkthrough"),
        QStringLiteral("Walk through a download, a day, the alarm filter and the print preview without a person, "
                       "saving pictures and the printed day into DIR, then end."),
        QStringLiteral("DIR"));
    return Startup::runWindow(app, { shot, walk }, [shot, walk](CMainFrame& frame, const QCommandLineParser& parser) {
        if (parser.isSet(walk)) {
            frame.setUnattended(1500);
            (new Walkthrough(frame, parser.value(walk)))->start();
        } else if (parser.isSet(shot)) {
            screenshot(frame, parser.value(shot));
        }
    });
}
