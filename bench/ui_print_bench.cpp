// Printing a day of 10,000 events to PDF, at printer resolution and at screen resolution (the
// resolution of the preview). Reports pages and the size of the file.
#include "history/viewflags.h"
#include "ui/eventlistprinter.h"

#include <QApplication>
#include <QFileInfo>
#include <QPageLayout>
#include <QPrinter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

std::vector<ChistoryRec> makeDay(int count)
{
    const QString pager = QStringLiteral("123456");
    const qint64 start = 1'796'716'800; // a morning in December 2026
    std::vector<ChistoryRec> rows;
    rows.reserve(static_cast<size_t>(count));
    for (int i = count - 1; i >= 0; --i) { // newest first, as the list shows them
        ChistoryRec r;
        r.hPagerID = pager;
        r.hDateTime = start + i * 8;
        r.hType = 3 + i % 6;
        r.hAlarm = i % 17 == 0 ? ChistoryRec::GammaWarning : 0;
        r.hValue = 10 + i % 1000;
        r.hPrecision = i % 30;
        r.hID = ChistoryRec::makeKey(pager, r.hDateTime);
        if (i % 50 == 0)
            r.hComment = QStringLiteral("checked by the duty officer");
        rows.push_back(r);
    }
    return rows;
}

void printToPdf(benchmark::State& state)
{
    const auto resolution = state.range(0) ? QPrinter::HighResolution : QPrinter::ScreenResolution;
    const EventListPrinter list(makeDay(10'000), false, ViewFlags::AllEvents);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.pdf"));
    int pages = 0;
    for (auto _ : state) {
        QPrinter printer(resolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10)));
        pages = list.pageCount(printer);
        if (!list.print(printer)) {
            state.SkipWithError("printing failed");
            return;
        }
    }
    state.counters["pages"] = pages;
    state.counters["pdf_kB"] = static_cast<double>(QFileInfo(path).size()) / 1024;
    state.counters["rows/s"] = benchmark::Counter(10'000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(printToPdf)->ArgName("high_resolution")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
