// Helper of the spool tests: downloads the instrument's history with the device worker.
// Arguments: program folder, port, instrument identifier, and then either nothing (the child
// kills itself the moment the instrument's memory has been cleared) or a file size limit in
// bytes (the disk is full beyond it; the child prints the worker's spool error and exits 0).
#include "config/programfolder.h"
#include "device/devworker.h"
#include "device/driverlock.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4 || args.size() > 5)
        return 2;
    const ProgramFolder folder(args[1]);
    if (!folder.make())
        return 2;
    DeviceState device(folder.path());
    device.setDriverLogFolder(args[1]);
    device.setPortName(args[2]);
    device.setConnected(true);
    if (args.size() == 5) {
        // Writes past the limit fail with EFBIG, as on a full disk, instead of a signal.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit {};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = args[4].toULongLong();
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 2;
    } else {
        DevWorker::setAfterClearHook([] { ::kill(::getpid(), SIGKILL); });
    }

    CPager pager(args[3]);
    CHistoryList out;
    DevWorker worker(device);
    worker.setCommand(DevWorker::ReadHistory);
    worker.setPager(&pager);
    worker.setOutputList(&out);
    const bool ok = worker.execute();
    if (args.size() == 5) {
        std::printf("%s\n%lld\n", worker.spoolError().toLocal8Bit().constData(), static_cast<long long>(out.size()));
        return ok ? 0 : 4;
    }
    return 3; // not reached when the history was cleared
}
