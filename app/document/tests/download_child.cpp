// Runs one Read history in a fresh process and dies right after the instrument's memory is
// cleared, before the events reach the database: the crash the spool must survive.
// Usage: document_download_child HOME PORT
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/devworker.h"
#include "document/kestradoc.h"

#include <QCoreApplication>

#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const ProgramFolder folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.make())
        return 2;
    AppContext context(folder);
    ProgramConfig& c = context.config();
    c.autoDetect = false;
    c.port = QString::fromLocal8Bit(argv[2]);
    c.timeSynchronize = false;
    DevWorker::setAfterClearHook([] { ::_exit(9); });
    CKESTRADoc doc(context);
    doc.initialise();
    doc.watcherProbe();
    doc.readHistory();
    return 0; // not reached when the instrument had events
}
