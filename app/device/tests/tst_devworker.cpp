// The device worker against the simulated instrument on a pseudo-terminal.
#include "config/applog.h"
#include "config/programfolder.h"
#include "device/devworker.h"
#include "device/driverlock.h"
#include "device/historyconversion.h"
#include "device/historyspool.h"
#include "history/viewflags.h"
#include "simfixture.h"

#include <KESTRAdrv.h>

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <memory>
#include <thread>

using namespace kestra::sim;

class DevWorkerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void downloadConvertsClearsAndSkipsDuplicates();
    void emptyHistory();
    void unwritableSpoolKeepsTheInstrumentsHistory();
    void userParamsReadRetries();
    void userParamsWriteVerifies();
    void measurementTextsOfEveryMode();
    void shortOperations();
    void portAndConnectedRules();
    void downloadFailingHalfWayLeavesHistory();

private:
    // Runs a job on its own thread and polls it as the document does.
    bool runJob(DevWorker& worker);
    QString takeLog();
    std::vector<std::string> sent() const;

    QTemporaryDir m_dir;
    std::unique_ptr<DeviceState> m_device;
    ViewFlags m_flags;
    Simulator* m_sim = nullptr;
};

bool DevWorkerTest::runJob(DevWorker& worker)
{
    worker.setBusy(true);
    worker.start();
    QElapsedTimer timer;
    timer.start();
    while (worker.isBusy() && timer.elapsed() < 60000)
        QThread::msleep(50);
    worker.wait();
    return worker.succeeded();
}

QString DevWorkerTest::takeLog()
{
    const QString text = simfixture::readFile(AppLog::path());
    AppLog::start(AppLog::path());
    return text;
}

std::vector<std::string> DevWorkerTest::sent() const
{
    std::vector<std::string> result;
    for (const auto& c : m_sim->commands()) {
        if (c != "get_ID")
            result.push_back(c.substr(0, c.find(' ')));
    }
    return result;
}

void DevWorkerTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const ProgramFolder folder(m_dir.path());
    m_device = std::make_unique<DeviceState>(folder.path());
    QVERIFY(AppLog::start(folder.logPath()));
    Options options;
    options.number = "4711";
    options.liveHistory = false;
    options.linkPath = m_dir.filePath("ttyKESTRA").toStdString();
    m_sim = new Simulator(options);
    QVERIFY(m_sim->start());
    m_device->setDriverLogFolder(m_dir.path());
    m_device->setPortName(QString::fromStdString(m_sim->slavePath()));
    m_device->setConnected(true);
}

void DevWorkerTest::cleanupTestCase()
{
    KESTRAdrv_Close();
    delete m_sim;
}

void DevWorkerTest::init()
{
    m_sim->clearFaults();
    m_sim->setReplyOverride("info", "");
    m_sim->clearCommands();
    m_device->setPortName(QString::fromStdString(m_sim->slavePath()));
    m_device->setConnected(true);
    takeLog();
}

void DevWorkerTest::downloadConvertsClearsAndSkipsDuplicates()
{
    const int count = 3000;
    const auto raw = simfixture::makeHistory(count);
    m_sim->setHistory(raw);

    // The instrument object already holds item 26 (a gamma warning); item 27 differs in value only.
    const QString id = QStringLiteral("KESTRA #4711");
    const int held = 26;
    QCOMPARE(raw[held].type(), 'G');
    CPager pager(id);
    ChistoryRec known;
    known.hPagerID = id;
    known.hDateTime = simfixture::expectedTime(raw[held].time());
    known.hType = 3;
    known.hAlarm = 0x001;
    known.hValue = decodeInstrumentFloat(raw[held].bytes + 10) * 1e8;
    pager.addEvent(known);
    ChistoryRec other = known;
    other.hDateTime = simfixture::expectedTime(raw[held + 1].time());
    other.hValue = 1;
    pager.addEvent(other);

    CHistoryList out;
    DevWorker worker(*m_device);
    worker.setCommand(DevWorker::ReadHistory);
    worker.setPager(&pager);
    worker.setOutputList(&out);
    QVERIFY(runJob(worker));
    QCOMPARE(worker.exitCode(), 1);

    // Every record arrives but the one held; the instrument is empty; the download is spooled.
    QVERIFY(m_sim->history().empty());
    QCOMPARE(out.size(), count - 1);
    const auto cmds = sent();
    QCOMPARE(cmds.front(), std::string("read_history"));
    QCOMPARE(cmds.back(), std::string("delete_history"));
    QVERIFY(!worker.spoolPath().isEmpty());
    QCOMPARE(HistorySpool(m_device->spoolFolder()).pending(), QStringList { worker.spoolPath() });
    QList<ChistoryRec> spooled;
    QVERIFY(HistorySpool::load(worker.spoolPath(), &spooled));
    QCOMPARE(spooled.size(), count);
    QVERIFY(HistorySpool::remove(worker.spoolPath()));

    auto near = [](double got, double want) { return std::abs(got - want) <= 1e-6 * std::abs(want) + 1e-9; };
    for (qsizetype j = 0; j < out.size(); ++j) {
        const int i = j < held ? int(j) : int(j) + 1;
        const ChistoryRec& r = out.at(j);
        const char type = simfixture::Types[i % 17];
        const auto code = HistoryConversion::fromCode(type);
        const double v1 = 1e-6 * (1 + i % 50);
        const QByteArray where = QByteArray("item ") + QByteArray::number(i) + " type " + type;
        QVERIFY2(r.hType == code.type && r.hAlarm == code.alarm, where);
        QVERIFY2(r.hDateTime == simfixture::expectedTime(raw[i].time()), where);
        QVERIFY2(r.hID == ChistoryRec::makeKey(id, r.hDateTime) && r.hPagerID == id, where);
        switch (type) {
        case '0':
        case '1':
        case 'R':
            QVERIFY2(r.hValue == -1 && r.hValue2 == -1 && r.hPrecision == -1 && r.hVariation == -1, where);
            break;
        case 'A':
        case 'C':
            QVERIFY2(near(r.hValue, v1) && near(r.hValue2, 2.5e-6 * 1e8), where);
            QVERIFY2(r.hPrecision == i % 100 && r.hVariation == i % 2, where);
            break;
        case 'B':
        case 'b':
            QVERIFY2(near(r.hValue, v1) && near(r.hValue2, 2.5e-6), where);
            QVERIFY2(r.hPrecision == i % 100 && r.hVariation == -1, where);
            break;
        case 'D':
        case 'F':
        case 'G':
        case 'O':
        case 'g':
            QVERIFY2(near(r.hValue, v1 * 1e8) && near(r.hValue2, 2.5e-6 * 1e8), where);
            QVERIFY2(r.hPrecision == i % 100 && r.hVariation == -1, where);
            break;
        case 'I':
        case 'J':
        case 'S':
        case 'i':
            QVERIFY2(near(r.hValue, v1) && r.hValue2 == -1 && r.hPrecision == i % 100 && r.hVariation == -1, where);
            break;
        case 's':
            QVERIFY2(r.hValue == -1 && r.hPrecision == (i % 100) % 2 && r.hVariation == i % 2, where);
            break;
        }
    }
    QCOMPARE(out.at(held).hDateTime, other.hDateTime); // the next item, kept

    const QString log = takeLog();
    for (const char* line : { "Getting history begin.", "Check device init state.",
             "Getting history end. Clearing history.", "Clearing history end.\n" })
        QVERIFY2(log.contains(QLatin1String(line)), line);
}

void DevWorkerTest::emptyHistory()
{
    m_sim->setHistory({});
    CPager pager(QStringLiteral("KESTRA #4711"));
    CHistoryList out;
    DevWorker worker(*m_device);
    worker.setCommand(DevWorker::ReadHistory);
    worker.setPager(&pager);
    worker.setOutputList(&out);
    QVERIFY(worker.execute());
    QVERIFY(out.isEmpty());
    QVERIFY(worker.spoolPath().isEmpty());
    QCOMPARE(sent().back(), std::string("delete_history"));

    // An unknown command does nothing and fails; a download without its list fails too.
    DevWorker unknown(*m_device);
    unknown.setCommand(7);
    QVERIFY(!runJob(unknown));
    QCOMPARE(unknown.exitCode(), 0);
    DevWorker noList(*m_device);
    noList.setCommand(DevWorker::ReadHistory);
    QVERIFY(!noList.execute());
}

void DevWorkerTest::unwritableSpoolKeepsTheInstrumentsHistory()
{
    const auto raw = simfixture::makeHistory(40);
    m_sim->setHistory(raw);
    QFile blocker(m_dir.filePath("not-a-folder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    CPager pager(QStringLiteral("KESTRA #4711"));
    CHistoryList out;
    DevWorker worker(*m_device);
    worker.setCommand(DevWorker::ReadHistory);
    worker.setPager(&pager);
    worker.setOutputList(&out);
    worker.setSpoolFolder(blocker.fileName() + "/Spool");
    QVERIFY(worker.execute());
    QCOMPARE(out.size(), 40); // handed on for storing all the same
    QVERIFY(worker.spoolPath().isEmpty());
    QVERIFY2(worker.spoolError().contains(blocker.fileName() + "/Spool"), qPrintable(worker.spoolError()));
    QCOMPARE(m_sim->history().size(), raw.size());
    for (const auto& c : sent())
        QVERIFY(c != "delete_history");
    QVERIFY(takeLog().contains("The instrument's history is not cleared."));
}

void DevWorkerTest::userParamsReadRetries()
{
    Settings s = m_sim->settings();
    s.roentgen = true;
    s.sound = false;
    s.searchBeep = true;
    s.historyInterval = 300;
    s.betaThreshold1 = 15;
    s.betaThreshold2 = 150;
    s.searchBetaThreshold = 12.5;
    s.derThreshold1 = 3.0e-4;
    s.derThreshold2 = 1.0e-3;
    m_sim->setSettings(s);

    // One error reply spoils the first attempt; the second reads everything.
    CUserParams params;
    params.spareInt = 77;
    m_sim->injectFault(FaultKind::ErrorReply, 1);
    DevWorker worker(*m_device);
    worker.setCommand(DevWorker::ReadUserParams);
    worker.setUserParams(&params);
    QVERIFY(runJob(worker));
    QCOMPARE(params.units, quint8(1));
    QCOMPARE(params.sound, false);
    QCOMPARE(params.searchBeep, true);
    QCOMPARE(params.historyInterval, 300);
    QCOMPARE(params.betaThreshold1, 15);
    QCOMPARE(params.betaThreshold2, 150);
    QCOMPARE(params.searchBetaThreshold, 12.5);
    QCOMPARE(params.derThreshold1, 30000);
    QCOMPARE(params.derThreshold2, 100000);
    QCOMPARE(params.spareInt, 77);
    QString log = takeLog();
    QVERIFY(log.contains("DevWorker::Getting user parameters. Port locked."));
    QVERIFY(log.contains("DevWorker::End data request no 0. Result: false"));
    QVERIFY(log.contains("DevWorker::Data request no 1. Receiving measure units value Result: true"));
    QVERIFY(log.contains("DevWorker::End data request no 1. Result: true"));
    QVERIFY(!log.contains("request no 2"));

    // Only the second DER threshold fails: five attempts, then failure with the other values read.
    m_sim->setReplyOverride("get_thresh_g2", "error");
    s.betaThreshold1 = 16;
    m_sim->setSettings(s);
    CUserParams failing;
    QVERIFY(!DevWorker::readUserParams(*m_device, failing, m_device->portName()));
    m_sim->setReplyOverride("get_thresh_g2", "");
    QCOMPARE(failing.betaThreshold1, 16);
    QCOMPARE(failing.derThreshold1, 30000);
    QCOMPARE(failing.derThreshold2, 0);
    log = takeLog();
    QCOMPARE(log.count("Receiving DerThr1 value Result: false"), 5);
    QVERIFY(log.contains("DevWorker::End data request no 4. Result: false"));
    QVERIFY(!log.contains("request no 5"));
}

void DevWorkerTest::userParamsWriteVerifies()
{
    CUserParams params;
    params.units = 1;
    params.sound = true;
    params.searchBeep = false;
    params.historyInterval = 1200;
    params.betaThreshold1 = 100;
    params.betaThreshold2 = 400;
    params.searchBetaThreshold = 1.005;
    params.derThreshold1 = 12000;
    params.derThreshold2 = 50000;
    DevWorker worker(*m_device);
    worker.setCommand(DevWorker::WriteUserParams);
    worker.setUserParams(&params);
    QVERIFY(runJob(worker));
    const Settings s = m_sim->settings();
    QVERIFY(s.roentgen && s.sound && !s.searchBeep);
    QCOMPARE(s.historyInterval, uint16_t(1200));
    QCOMPARE(s.betaThreshold1, 100);
    QCOMPARE(s.betaThreshold2, 400);
    QCOMPARE(s.derThreshold1, 1.2e-4);
    QVERIFY(takeLog().contains("Writing user parameters. Result:true\n"));
    // Each setting is put and then read back, in this order.
    const std::vector<std::string> order
        = { "put_measur_unit", "get_measur_unit", "put_sound", "get_sound", "put_beep", "get_beep", "set_hist_time",
              "read_hist_time", "put_thresh_b1", "get_thresh_b1", "put_thresh_b2", "get_thresh_b2", "put_thresh_b",
              "get_thresh_b", "put_thresh_g", "get_thresh_g", "put_thresh_g2", "get_thresh_g2" };
    QVERIFY(sent() == order);

    struct Case {
        const char* name;
        std::function<void(CUserParams&)> change;
        const char* overrideCommand;
        const char* overridePayload;
        bool ok;
    };
    const Case cases[] = {
        { "threshold one unit off", {}, "get_thresh_b1", "thrG=1.010000E+002CPM/cm^2", true },
        { "threshold two units off", {}, "get_thresh_b1", "thrG=1.020000E+002CPM/cm^2", false },
        { "DER threshold two units off", {}, "get_thresh_g2", "thrG=5.000200E-004Sv/hr", false },
        { "search threshold finer than a thousandth", [](CUserParams& p) { p.searchBetaThreshold = 0.1234; }, nullptr,
            nullptr, false },
        { "a put that fails", {}, "put_sound", "error", false },
        { "interval beyond 16 bits", [](CUserParams& p) { p.historyInterval = 90000; }, nullptr, nullptr, false },
    };
    for (const auto& c : cases) {
        CUserParams p = params;
        if (c.change)
            c.change(p);
        if (c.overrideCommand)
            m_sim->setReplyOverride(c.overrideCommand, c.overridePayload);
        const bool ok = DevWorker::writeUserParams(*m_device, p, m_device->portName());
        if (c.overrideCommand)
            m_sim->setReplyOverride(c.overrideCommand, "");
        QVERIFY2(ok == c.ok, c.name);
        QVERIFY2(takeLog().contains(ok ? "Result:true\n" : "Result:false\n"), c.name);
    }
    QCOMPARE(m_sim->settings().historyInterval, uint16_t(90000 & 0xFFFF));
}

void DevWorkerTest::measurementTextsOfEveryMode()
{
    struct Row {
        const char* payload;
        bool roentgen;
        QStringList texts; // value, units, mode, status, error, radiation
    };
    const Row rows[] = {
        { "MODE=gm alarm=0002 gm=1.500000E-006Sv/hr~12%", false,
            { "1.50", "µSv/h", "Measurement gamma", "Threshold \"Danger\" is exceeded!", "±12 %", "gamma" } },
        { "MODE=gm alarm=0000 gm=1.500000E-006Sv/hr~12%", true,
            { "150", "µR/h", "Measurement gamma", "", "±12 %", "gamma" } },
        { "MODE=betta_1 alarm=0000 gm=1.250000E+001CPS~30% status=00", true,
            { "12.50", "cps", "Measurement gamma+beta", "", "±30 %", "gamma+beta" } },
        { "MODE=betta_2 alarm=0400 gm=4.200000E+001CPM/cm^2~09% status=02", true,
            { "42.00", "1/(min*cm²)", "Measurement beta (contaminated)", "Threshold \"Warning\" is exceeded!", "±09 %",
                "beta" } },
        { "MODE=survey alarm=0008 gm=1.234560E+004CPS~04% status=01", true,
            { "1.2e+04", "cps", "Survey mode (safe)", "Accumulated dose threshold is exceeded!", "±04 %",
                "gamma+beta" } },
        { "MODE=backgr alarm=0200 gm=5.000000E-001CPS~60%", true,
            { "0.50", "cps", "Background", "Detector error!", "±60 %", "kept" } },
        { "MODE=search_bg alarm=0010 gm=3.000000E+000CPS~02%", true,
            { "3.00", "cps", "Search beta/gamma", "", "±02 %", "gamma+beta" } },
        { "MODE=test alarm=0001", true, { "kept", "kept", "", "Threshold \"Warning\" is exceeded!", "kept", "kept" } },
    };
    for (const auto& row : rows) {
        m_sim->setReplyOverride("info", row.payload);
        m_flags.setUnitsRoentgen(row.roentgen);
        CMeasurements m;
        m.value = m.units = m.error = m.radiation = m.spare = QStringLiteral("kept");
        QVERIFY2(DevWorker::readMeasurements(*m_device, m, m_flags.unitsRoentgen()), row.payload);
        const QStringList got = { m.value, m.units, m.mode, m.status, m.error, m.radiation };
        QVERIFY2(got == row.texts, qPrintable(QString::fromLatin1(row.payload) + " -> " + got.join('|')));
        QCOMPARE(m.dose, QStringLiteral("-1"));
        QCOMPARE(m.doseTime, QStringLiteral("00:00:00"));
        QCOMPARE(m.spare, QStringLiteral("kept"));
    }
    m_sim->setReplyOverride("info", "error");
    CMeasurements untouched;
    QVERIFY(!DevWorker::readMeasurements(*m_device, untouched, m_flags.unitsRoentgen()));
    QCOMPARE(untouched, CMeasurements {});
    const QString log = takeLog();
    QVERIFY(log.contains("End getting measurenment data.\n"));
    QVERIFY(log.contains("ERROR getting measurenment data!\n"));
    m_sim->setReplyOverride("info", "");
}

void DevWorkerTest::shortOperations()
{
    QString name;
    QVERIFY(DevWorker::instrumentName(*m_device, name));
    QCOMPARE(name, QStringLiteral("KESTRA #4711"));
    m_sim->injectFault(FaultKind::ErrorReply, 1);
    QVERIFY(!DevWorker::instrumentName(*m_device, name));
    QVERIFY(!m_device->connected());
    m_device->setConnected(true);

    Settings s = m_sim->settings();
    s.roentgen = false;
    m_sim->setSettings(s);
    m_flags.setUnitsRoentgen(true);
    QVERIFY(DevWorker::readUnits(*m_device, m_flags));
    QVERIFY(!m_flags.unitsRoentgen());

    m_sim->setReplyOverride("info", "MODE=gm alarm=0802 gm=1.0E-006Sv/hr~10%");
    quint32 status = 0;
    QVERIFY(DevWorker::readStatus(*m_device, status));
    QCOMPARE(status, 0x802u);
    m_sim->setReplyOverride("info", "error");
    QVERIFY(!DevWorker::readStatus(*m_device, status));
    QCOMPARE(status, 0x802u);
    m_sim->setReplyOverride("info", "");

    m_sim->clearCommands();
    QVERIFY(DevWorker::synchronizeClock(*m_device));
    QVERIFY(sent() == std::vector<std::string> { "set_enter_time" });

    m_sim->setHistory(simfixture::makeHistory(3));
    QVERIFY(DevWorker::clearHistory(*m_device));
    QVERIFY(m_sim->history().empty());

    const QString log = takeLog();
    for (const char* line : { "Getting device name. Result:true\n", "Getting device name. Result:false\n",
             "Begin getting measurenment units.", "End getting measurenment units.\n", "Begin checking alarm state.",
             "End checking alarm state.\n", "Error checking alarm state.\n", "Synchronizing time. Result:true\n" })
        QVERIFY2(log.contains(QLatin1String(line)), line);
}

void DevWorkerTest::portAndConnectedRules()
{
    CPager pager(QStringLiteral("P"));
    CHistoryList out;
    CUserParams params;
    CMeasurements m;
    QString name;
    quint32 status = 0;
    struct Op {
        const char* name;
        bool forcesCheck;
        std::function<bool()> run;
    };
    const Op ops[] = {
        { "download", false,
            [&] {
                DevWorker w(*m_device);
                w.setCommand(DevWorker::ReadHistory);
                w.setPager(&pager);
                w.setOutputList(&out);
                return w.execute();
            } },
        { "measurements", false, [&] { return DevWorker::readMeasurements(*m_device, m, m_flags.unitsRoentgen()); } },
        { "units", false, [&] { return DevWorker::readUnits(*m_device, m_flags); } },
        { "name", false, [&] { return DevWorker::instrumentName(*m_device, name); } },
        { "clock", false, [&] { return DevWorker::synchronizeClock(*m_device); } },
        { "clear", false, [&] { return DevWorker::clearHistory(*m_device); } },
        { "status", true, [&] { return DevWorker::readStatus(*m_device, status); } },
        { "read params", true,
            [&] {
                DevWorker w(*m_device);
                w.setCommand(DevWorker::ReadUserParams);
                w.setUserParams(&params);
                return w.execute();
            } },
        { "write params", true,
            [&] {
                DevWorker w(*m_device);
                w.setCommand(DevWorker::WriteUserParams);
                w.setUserParams(&params);
                return w.execute();
            } },
    };
    m_sim->setHistory({});
    params.units = 1;
    params.historyInterval = 600;
    params.betaThreshold1 = 10;
    params.betaThreshold2 = 100;
    params.searchBetaThreshold = 100;
    params.derThreshold1 = 30000;
    params.derThreshold2 = 100000;

    // No port name: every operation fails without a word to the instrument.
    m_device->setPortName({});
    for (const auto& op : ops) {
        m_sim->clearCommands();
        QVERIFY2(!op.run(), op.name);
        QVERIFY2(m_sim->commands().empty(), op.name);
        QVERIFY2(takeLog().contains("Error! On initDevice Comport is not specified!!"), op.name);
    }

    // Not connected: only the operations that force a port check go to the instrument.
    m_device->setPortName(QString::fromStdString(m_sim->slavePath()));
    for (const auto& op : ops) {
        m_device->setConnected(false);
        m_sim->clearCommands();
        const bool ok = op.run();
        QVERIFY2(ok == op.forcesCheck, op.name);
        QVERIFY2(m_sim->commands().empty() != op.forcesCheck, op.name);
        const bool refused = takeLog().contains(
            "Error! On initDevice Device is not connected. And no 'CkeckPort' parametr specified!!");
        QVERIFY2(refused != op.forcesCheck, op.name);
    }

    // A closed driver is opened again by the next port check; a port that cannot be opened
    // fails it and leaves the driver lock free.
    m_device->setConnected(true);
    KESTRAdrv_Close();
    QVERIFY(DevWorker::readStatus(*m_device, status));
    QString log = takeLog();
    QVERIFY(log.contains("Try to initialize device on port = " + m_device->portName()));
    QVERIFY(log.contains("Device initialized"));
    KESTRAdrv_Close();
    m_device->setPortName(m_dir.filePath("no-such-tty"));
    QVERIFY(!DevWorker::readStatus(*m_device, status));
    QVERIFY(takeLog().contains("Error initializing device\n"));
    bool free = false;
    std::thread([&] {
        free = m_device->driverLock().try_lock();
        if (free)
            m_device->driverLock().unlock();
    }).join();
    QVERIFY(free);
}

void DevWorkerTest::downloadFailingHalfWayLeavesHistory()
{
    // Small slow chunks, so that the line can be cut while the download runs.
    const auto raw = simfixture::makeHistory(800);
    m_sim->setHistory(raw);
    m_sim->setFaultRate(FaultKind::Latency, 1.0, 20);
    CPager pager(QStringLiteral("KESTRA #4711"));
    CHistoryList out;
    DevWorker worker(*m_device);
    worker.setCommand(DevWorker::ReadHistory);
    worker.setPager(&pager);
    worker.setOutputList(&out);
    worker.setBusy(true);
    worker.start();
    QElapsedTimer timer;
    timer.start();
    auto infos = [&] {
        int n = 0;
        for (const auto& c : m_sim->commands())
            n += c == "info";
        return n;
    };
    while (infos() < 3 && worker.isBusy() && timer.elapsed() < 20000)
        QThread::msleep(1);
    QVERIFY2(worker.isBusy(), "the download ended before the line could be cut");
    m_sim->injectFault(FaultKind::HangUp, 1, 6000);
    while (worker.isBusy() && timer.elapsed() < 60000)
        QThread::msleep(50);
    worker.wait();
    m_sim->clearFaults();
    QVERIFY(!worker.succeeded());
    QVERIFY(out.isEmpty());
    QVERIFY(worker.spoolPath().isEmpty());
    QCOMPARE(m_sim->history().size(), raw.size());
    QVERIFY(takeLog().contains("Error getting history!\n"));
    for (const auto& c : sent())
        QVERIFY(c != "delete_history");
}

QTEST_GUILESS_MAIN(DevWorkerTest)
#include "tst_devworker.moc"
