// The application log opens and closes its file for every line; the configuration is read and
// saved whole; port discovery walks sysfs each time the settings dialog opens.
#include "config/applog.h"
#include "config/password.h"
#include "config/programconfig.h"
#include "device/portdiscovery.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

static void appLogLine(benchmark::State& state)
{
    QTemporaryDir dir;
    AppLog::start(dir.filePath("ProgLogFile.log"));
    const QString message = QStringLiteral("DevWorker::Data request no 0. Receiving sound value Result: true");
    for (auto _ : state)
        AppLog::write(message);
    AppLog::stop();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(appLogLine);

static void configLoad(benchmark::State& state)
{
    QTemporaryDir dir;
    ProgramConfig c;
    c.iniPath = dir.filePath("KESTRA.ini");
    for (int i = 0; i < state.range(0); ++i)
        c.servers << QStringLiteral("server%1:3133").arg(i);
    c.save();
    for (auto _ : state) {
        ProgramConfig r;
        benchmark::DoNotOptimize(r.load(c.iniPath));
    }
}
BENCHMARK(configLoad)->Arg(0)->Arg(20);

static void configSave(benchmark::State& state)
{
    QTemporaryDir dir;
    ProgramConfig c;
    c.iniPath = dir.filePath("KESTRA.ini");
    for (int i = 0; i < state.range(0); ++i)
        c.servers << QStringLiteral("server%1:3133").arg(i);
    for (auto _ : state)
        benchmark::DoNotOptimize(c.save());
}
BENCHMARK(configSave)->Arg(0)->Arg(20);

static void passwordDigest(benchmark::State& state)
{
    const QString password = QStringLiteral("correct horse");
    for (auto _ : state)
        benchmark::DoNotOptimize(Password::digest(password));
}
BENCHMARK(passwordDigest);

static void listPortsOfThisMachine(benchmark::State& state)
{
    const PortDiscovery discovery;
    for (auto _ : state) {
        QList<SerialPortInfo> ports;
        benchmark::DoNotOptimize(discovery.listPortInfos(ports));
    }
}
BENCHMARK(listPortsOfThisMachine);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
