// Prints the driver's figures:
//  - CPU used by the calling thread while a transaction waits on a silent instrument (4 x 1000 ms);
//  - round trip of one transaction against an unthrottled simulator (median, 99th percentile);
//  - decoding time per raw history record (100,000 records);
//  - a download of 10,000 records at 115200 baud against the time the bytes need on the line.
#include "history_decoder.h"

#include <KESTRAdrv.h>
#include <kestrasim/simulator.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace kestra::sim;
using Clock = std::chrono::steady_clock;

namespace {

double threadCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::vector<RawRecord> makeHistory(int n)
{
    std::vector<RawRecord> records;
    records.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        RecordFields f;
        f.value1 = 1e-7 + i * 1e-10;
        f.value2 = 1e-5;
        f.param1 = 12;
        records.push_back(makeRecord(i % 5 ? 'F' : 'b', 800000000u + static_cast<uint32_t>(i) * 60, f));
    }
    return records;
}

/// Bytes of the replies the simulator logged ("->" lines), escapes counted as one byte.
std::size_t replyBytes(const std::string& logPath)
{
    std::ifstream in(logPath);
    std::string line;
    std::size_t total = 0;
    while (std::getline(in, line)) {
        auto at = line.find(" -> ");
        if (at == std::string::npos)
            continue;
        std::string text = line.substr(at + 4);
        std::size_t escapes = 0;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == '\\' && (text[i + 1] == 'r' || text[i + 1] == 'n')) {
                ++escapes;
                ++i;
            }
        }
        total += text.size() - escapes;
    }
    return total;
}

struct Download {
    double wall;
    std::size_t bytes;
};

Download download(unsigned baud, int records)
{
    char dir[] = "/tmp/kestra-bench-XXXXXX";
    mkdtemp(dir);
    Options options;
    options.baud = baud;
    options.liveHistory = false;
    options.logFile = std::string(dir) + "/sim.log";
    Simulator sim(options);
    sim.start();
    sim.setHistory(makeHistory(records));
    KESTRAdrv_Init(nullptr, wide(sim.slavePath()).c_str(), 115200);
    KESTRAdrv_FindDevice(nullptr, nullptr);
    sim.clearCommands();
    int32_t count = 0;
    KESTRAdrv_EventRecord* array = nullptr;
    auto start = Clock::now();
    bool ok = KESTRAdrv_GetHistory(&count, &array);
    double wall = seconds(Clock::now() - start);
    if (!ok || count != records)
        std::printf("  download failed: %d of %d records\n", count, records);
    std::size_t sent = 0;
    for (const auto& frame : sim.frames())
        sent += frame.size();
    std::size_t received = replyBytes(options.logFile);
    KESTRAdrv_Close();
    sim.stop();
    unlink(options.logFile.c_str());
    rmdir(dir);
    // The request frames and the replies share the line one after the other.
    return { wall, sent + received };
}

} // namespace

int main()
{
    std::printf("KESTRAdrv benchmark\n");

    {
        Options options;
        options.liveHistory = false;
        Simulator sim(options);
        sim.start();
        KESTRAdrv_Init(nullptr, wide(sim.slavePath()).c_str(), 115200);
        KESTRAdrv_FindDevice(nullptr, nullptr);
        sim.setFaultRate(FaultKind::Silence, 1.0);
        int32_t battery;
        double cpu = threadCpuSeconds();
        auto start = Clock::now();
        bool ok = KESTRAdrv_GetBattery(&battery);
        double wall = seconds(Clock::now() - start);
        cpu = threadCpuSeconds() - cpu;
        std::printf("silent instrument: %s after %.3f s wall, %.4f s CPU = %.3f %% of the wall time (target < 2 %%)\n",
            ok ? "answered?!" : "failed as expected", wall, cpu, 100.0 * cpu / wall);
        sim.clearFaults();

        std::vector<double> trips;
        for (int i = 0; i < 3000; ++i) {
            auto t = Clock::now();
            KESTRAdrv_GetBattery(&battery);
            trips.push_back(seconds(Clock::now() - t) * 1e3);
        }
        std::sort(trips.begin(), trips.end());
        std::printf("round trip (get_battery, unthrottled simulator, %zu runs): median %.3f ms, p99 %.3f ms (target "
                    "median < 1 ms)\n",
            trips.size(), trips[trips.size() / 2], trips[trips.size() * 99 / 100]);
        KESTRAdrv_Close();
    }

    {
        auto history = makeHistory(100000);
        std::vector<uint8_t> bytes;
        for (const auto& r : history)
            bytes.insert(bytes.end(), r.bytes, r.bytes + 16);
        std::vector<KESTRAdrv_EventRecord> out;
        double best = 1e9;
        for (int round = 0; round < 5; ++round) {
            out.clear();
            auto start = Clock::now();
            kestra::decodeRecords(bytes.data(), bytes.size(), out);
            best = std::min(best, seconds(Clock::now() - start));
        }
        std::printf(
            "decoding 100,000 raw records: %.2f ms, %.1f ns per record (best of 5)\n", best * 1e3, best * 1e9 / 100000);
    }

    {
        const int records = 10000;
        Download fast = download(0, records);
        Download line = download(115200, records);
        double lineTime = line.bytes * 10.0 / 115200.0;
        std::printf(
            "download of %d records, unthrottled: %.3f s (%zu bytes on the line)\n", records, fast.wall, fast.bytes);
        std::printf("download of %d records at 115200 baud: %.3f s; the bytes need %.3f s on the line; the rest is "
                    "%.2f %% over the line time (target < 10 %%)\n",
            records, line.wall, lineTime, 100.0 * (line.wall - lineTime) / lineTime);
    }
    return 0;
}
