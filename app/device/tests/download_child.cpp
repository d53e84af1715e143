// Helper of the crash test: downloads the instrument's history with the device worker and is
// killed the moment the instrument's memory has been cleared.
// Arguments: program folder, port, instrument identifier.
#include "devworker.h"
#include "driverlock.h"
#include "programfolder.h"

#include <QCoreApplication>

#include <csignal>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 || !ProgramFolder::setPath(args[1]))
        return 2;
    DeviceState::setDriverLogFolder(args[1]);
    DeviceState::setPortName(args[2]);
    DeviceState::setConnected(true);
    DevWorker::setAfterClearHook([] { ::kill(::getpid(), SIGKILL); });

    CPager pager(args[3]);
    CHistoryList out;
    DevWorker worker;
    worker.setCommand(DevWorker::ReadHistory);
    worker.setPager(&pager);
    worker.setOutputList(&out);
    worker.execute();
    return 3; // not reached when the history was cleared
}
