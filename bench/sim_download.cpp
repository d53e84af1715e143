// Downloads N history records from the simulator paced at 115200 baud and compares the time taken
// with the time the bytes need on such a line (10 bits per byte, both directions).

#include "kestrasim/simulator.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kBaud = 115200;

// A deliberately small host: frame out, wait for "CRC=" .. CR LF, check the checksum.
class Client {
public:
    explicit Client(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (m_fd >= 0) {
            termios tio {};
            tcgetattr(m_fd, &tio);
            cfmakeraw(&tio);
            cfsetspeed(&tio, B115200);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }

    // Returns the reply text (prefix through CR LF) or an empty string on a time-out or bad checksum.
    std::string transact(const std::string& command)
    {
        char head[64];
        std::snprintf(head, sizeof head, "KESTRA #%s $%04X ", m_number.c_str(), m_sequence);
        std::string frame = head + command + " CRC=";
        char crc[8];
        std::snprintf(crc, sizeof crc, "%04X", kestra::sim::crc16X25(frame));
        frame += crc;
        frame += "\r\n";
        tcflush(m_fd, TCIOFLUSH);
        if (::write(m_fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
            return {};
        bytesSent += frame.size();
        std::string received;
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (Clock::now() < deadline) {
            pollfd fd { m_fd, POLLIN, 0 };
            if (poll(&fd, 1, 50) <= 0)
                continue;
            char buffer[1024];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            received.append(buffer, static_cast<std::size_t>(n));
            const std::size_t label = received.find("CRC=");
            if (label == std::string::npos || received.find("\r\n", label) == std::string::npos)
                continue;
            bytesReceived += received.size();
            const unsigned given = static_cast<unsigned>(std::strtoul(received.c_str() + label + 4, nullptr, 16));
            if (given != kestra::sim::crc16X25(received.substr(0, label + 4)))
                return {};
            ++m_sequence;
            return received;
        }
        return {};
    }

    void setNumber(const std::string& number) { m_number = number; }

    std::size_t bytesSent = 0;
    std::size_t bytesReceived = 0;

private:
    int m_fd;
    std::string m_number = "nonumber";
    uint16_t m_sequence = 0;
};

// Bytes of history data carried by one chunk reply.
long chunkBytes(const std::string& reply, bool* last)
{
    const std::size_t at = reply.find("length=");
    if (at == std::string::npos)
        return -1;
    *last = reply.find(" end") != std::string::npos;
    return std::strtol(reply.c_str() + at + 7, nullptr, 16);
}

void BM_SimDownload(benchmark::State& state)
{
    const int records = static_cast<int>(state.range(0));
    kestra::sim::Options options;
    options.baud = kBaud;
    options.historyRecords = records;
    options.liveHistory = false;
    kestra::sim::Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    Client client(sim.slavePath());
    const std::string id = client.transact("get_ID");
    if (!client.ok() || id.empty()) {
        state.SkipWithError("no answer to get_ID");
        return;
    }
    client.setNumber(sim.number());

    double measured = 0;
    double needed = 0;
    for (auto _ : state) {
        client.bytesSent = client.bytesReceived = 0;
        const auto start = Clock::now();
        long total = 0;
        int chunks = 0;
        bool last = false;
        std::string reply = client.transact("read_history");
        while (!reply.empty()) {
            const long n = chunkBytes(reply, &last);
            if (n < 0)
                break;
            total += n;
            ++chunks;
            if (last)
                break;
            reply = client.transact("info");
        }
        measured = std::chrono::duration<double>(Clock::now() - start).count();
        if (!last || total != 16L * records) {
            state.SkipWithError("download incomplete");
            return;
        }
        needed = 10.0 * static_cast<double>(client.bytesSent + client.bytesReceived) / kBaud;
        state.SetIterationTime(measured);
        state.counters["chunks"] = chunks;
        state.counters["wire_bytes"] = static_cast<double>(client.bytesSent + client.bytesReceived);
    }
    state.counters["measured_s"] = measured;
    state.counters["line_s"] = needed;
    state.counters["ratio"] = measured / needed;
}

} // namespace

BENCHMARK(BM_SimDownload)->Arg(2000)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
