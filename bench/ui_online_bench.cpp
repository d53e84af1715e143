// The online window's cost on the user-interface thread: one refresh against the unthrottled
// simulator (the time the thread is blocked per refresh, with and without the chart's share),
// and one paint of the chart with 10,000 and 100,000 samples.
#include "config/programconfig.h"
#include "config/programfolder.h"
#include "device/driverlock.h"
#include "document/kestradoc.h"
#include "history/historydb.h"
#include "history/measurements.h"
#include "ui/dialogs/dosechart.h"
#include "ui/dialogs/onlinemode.h"

#include "kestrasim/simulator.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

using namespace kestra::sim;

namespace {

// A document in local mode on the simulator, made once for the refresh benchmarks.
struct Instrument {
    QTemporaryDir home;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<AppContext> context;
    std::unique_ptr<CKESTRADoc> doc;

    bool start()
    {
        if (!home.isValid())
            return false;
        context = std::make_unique<AppContext>(ProgramFolder(home.path()));
        context->device().setDriverLogFolder(home.path());
        Options options;
        options.liveHistory = false;
        sim = std::make_unique<Simulator>(options);
        if (!sim->start())
            return false;
        sim->setDoseRate(2.0e-6);
        ProgramConfig& c = context->config();
        c.iniPath = context->folder().iniPath();
        c.autoDetect = false;
        c.port = QString::fromStdString(sim->slavePath());
        c.localMode = true;
        c.timeSynchronize = false;
        doc = std::make_unique<CKESTRADoc>(*context);
        doc->initialise();
        doc->watcherProbe();
        return doc->state().connected();
    }
};

Instrument& instrument()
{
    static Instrument* shared = [] {
        auto* i = new Instrument;
        if (!i->start())
            i->doc.reset();
        return i;
    }();
    return *shared;
}

// One refresh as the timer makes it: units, reading, texts and the chart's sample.
void BM_OnlineRefresh(benchmark::State& state)
{
    Instrument& env = instrument();
    if (!env.doc) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    COnlineMode window(*env.doc);
    int failed = 0;
    QObject::connect(&window, &COnlineMode::refreshFinished, [&failed](bool ok) { failed += ok ? 0 : 1; });
    for (auto _ : state) {
        // The reading is taken off the window's thread; the refresh ends when its texts show.
        QEventLoop loop;
        QObject::connect(&window, &COnlineMode::refreshFinished, &loop, &QEventLoop::quit);
        window.refresh();
        loop.exec();
    }
    state.counters["failed"] = failed;
    state.counters["chart_samples"] = window.chart()->sampleCount();
}
BENCHMARK(BM_OnlineRefresh)->Unit(benchmark::kMillisecond)->UseRealTime();

// The chart's share of a refresh: the texts of a reading turned into a sample and stored.
void BM_ChartSample(benchmark::State& state)
{
    DoseChart chart;
    CMeasurements reading;
    reading.value = QStringLiteral("1.88");
    reading.units = QStringLiteral("µSv/h");
    qint64 ms = 0;
    for (auto _ : state) {
        DoseChart::Quantity quantity;
        double value = 0;
        bool roentgen = false;
        if (DoseChart::sampleOf(reading, &quantity, &value, &roentgen))
            chart.addSample(quantity, ms += 2000, value);
    }
}
BENCHMARK(BM_ChartSample);

// One paint of the online window's chart (600 x 240) holding n gamma samples, with the
// threshold lines; a tenth of them also in the beta pane.
void BM_ChartPaint(benchmark::State& state)
{
    const int n = int(state.range(0));
    DoseChart chart;
    chart.resize(600, 240);
    CUserParams thresholds;
    thresholds.derThreshold1 = 30000;
    thresholds.derThreshold2 = 100000;
    thresholds.betaThreshold1 = 10;
    thresholds.betaThreshold2 = 100;
    chart.setThresholds(thresholds);
    for (int i = 0; i < n; ++i) {
        chart.addSample(
            DoseChart::Quantity::DoseRate, qint64(i) * 2000, 18000 + 15000 * std::sin(i / 200.0) + (i % 7) * 300);
        if (i % 10 == 0)
            chart.addSample(DoseChart::Quantity::BetaFlux, qint64(i) * 2000, 4 + (i % 11) * 0.7);
    }
    QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&image);
        chart.paintChart(painter, QRect(QPoint(0, 0), chart.size()));
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["samples"] = chart.sampleCount();
}
BENCHMARK(BM_ChartPaint)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The simulator and the document end with the process.
    return 0;
}
