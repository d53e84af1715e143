#include "device/devworker.h"

#include "config/applog.h"
#include "device/driverlock.h"
#include "device/historyconversion.h"
#include "device/historyspool.h"
#include "device/measurementtexts.h"
#include "history/viewflags.h"

#include <KESTRAdrv.h>

#include <cmath>
#include <mutex>
#include <vector>

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

const char* yesNo(bool value)
{
    return value ? "true" : "false";
}

void log(const QString& text)
{
    AppLog::write(text);
}

std::atomic<void (*)()> afterClearHook { nullptr };

constexpr int BaudRate = 115200;
constexpr int ReadAttempts = 5;

} // namespace

namespace ReadBack {

bool closeEnough(qint32 written, qint32 read)
{
    return std::abs(static_cast<qint64>(written) - static_cast<qint64>(read)) <= 1;
}

bool sameThousandths(double written, double read)
{
    if (!std::isfinite(written) || !std::isfinite(read) || std::abs(written) > 1e12 || std::abs(read) > 1e12)
        return false;
    // Rounding, not truncation: 1.005 * 1000 is 1004.999... in binary, yet it is a whole number
    // of thousandths and reads back as such.
    const double thousandths = written * 1000;
    const double whole = std::round(thousandths);
    if (std::abs(thousandths - whole) > 1e-6)
        return false;
    return std::round(read * 1000) == whole;
}

} // namespace ReadBack

DevWorker::DevWorker(DeviceState& device, QObject* parent)
    : QThread(parent)
    , m_device(device)
    , m_portName(device.portName())
{
}

DevWorker::~DevWorker()
{
    wait();
}

void DevWorker::setAfterClearHook(void (*hook)())
{
    afterClearHook.store(hook);
}

void DevWorker::run()
{
    m_busy = true;
    m_success = true;
    execute();
}

bool DevWorker::execute()
{
    m_success = false;
    bool result = false;
    switch (m_command) {
    case ReadUserParams:
        result = m_params && readUserParams(m_device, *m_params, m_portName);
        break;
    case ReadHistory:
        result = downloadHistory();
        break;
    case WriteUserParams:
        result = m_params && writeUserParams(m_device, *m_params, m_portName);
        break;
    default:
        break;
    }
    m_success = result;
    m_exitCode = result ? 1 : 0;
    m_busy = false;
    return result;
}

bool DevWorker::initDevice(DeviceState& device, const QString& portName, bool force)
{
    if (!force && !device.connected()) {
        log(QStringLiteral("Error! On initDevice Device is not connected. And no 'CkeckPort' parametr specified!!"));
        return false;
    }
    if (portName.isEmpty()) {
        log(QStringLiteral("Error! On initDevice Comport is not specified!!"));
        return false;
    }
    log(QStringLiteral("Check device init state."));
    Lock lock(device.driverLock());
    if (!KESTRAdrv_IsDrvInit()) {
        log(QStringLiteral("Try to initialize device on port = ") + portName);
        const std::u16string folder = device.driverLogFolder().toStdU16String();
        const std::u16string port = portName.toStdU16String();
        if (!KESTRAdrv_Init(folder.c_str(), port.c_str(), BaudRate)) {
            lock.unlock();
            log(QStringLiteral("Error initializing device\n"));
            return false;
        }
        log(QStringLiteral("Device initialized"));
    }
    return true;
}

bool DevWorker::readStatus(DeviceState& device, quint32& status)
{
    log(QStringLiteral("Begin checking alarm state."));
    if (!initDevice(device, device.portName(), true))
        return false;
    Lock lock(device.driverLock());
    int32_t mode = 0;
    double value = 0;
    int32_t error = 0;
    uint16_t alarm = static_cast<uint16_t>(status);
    const bool ok = KESTRAdrv_GetMeasurementValue(&mode, &value, &error, &alarm, nullptr);
    lock.unlock();
    if (ok)
        status = alarm;
    log(ok ? QStringLiteral("End checking alarm state.\n") : QStringLiteral("Error checking alarm state.\n"));
    return ok;
}

bool DevWorker::readMeasurements(DeviceState& device, CMeasurements& measurements, bool unitsRoentgen)
{
    MeasurementTexts::Reading reading;
    if (!readReading(device, reading))
        return false;
    MeasurementTexts::fill(measurements, reading, unitsRoentgen);
    return true;
}

bool DevWorker::readReading(DeviceState& device, MeasurementTexts::Reading& reading)
{
    log(QStringLiteral("Begin getting measurenment data."));
    if (!initDevice(device, device.portName(), false))
        return false;
    Lock lock(device.driverLock());
    int32_t mode = 0;
    double value = 0;
    int32_t error = 0;
    uint16_t alarm = 0;
    uint8_t betaState = 0;
    if (!KESTRAdrv_GetMeasurementValue(&mode, &value, &error, &alarm, &betaState)) {
        lock.unlock();
        log(QStringLiteral("ERROR getting measurenment data!\n"));
        return false;
    }
    lock.unlock();
    log(QStringLiteral("End getting measurenment data.\n"));
    reading = { mode, value, error, alarm, betaState };
    return true;
}

bool DevWorker::readBattery(DeviceState& device, int& percent)
{
    if (!initDevice(device, device.portName(), false))
        return false;
    Lock lock(device.driverLock());
    int32_t value = 0;
    if (!KESTRAdrv_GetBattery(&value))
        return false;
    percent = value;
    return true;
}

bool DevWorker::readUnits(DeviceState& device, ViewFlags& flags)
{
    log(QStringLiteral("Begin getting measurenment units."));
    if (!initDevice(device, device.portName(), false))
        return false;
    Lock lock(device.driverLock());
    uint8_t roentgen = flags.unitsRoentgen() ? 1 : 0;
    const bool ok = KESTRAdrv_GetMeasUnits(&roentgen);
    lock.unlock();
    if (ok)
        flags.setUnitsRoentgen(roentgen != 0);
    log(QStringLiteral("End getting measurenment units.\n"));
    return ok;
}

bool DevWorker::instrumentName(DeviceState& device, QString& name)
{
    if (!initDevice(device, device.portName(), false))
        return false;
    Lock lock(device.driverLock());
    char16_t full[KESTRADRV_TEXT_SIZE] = {};
    char16_t number[KESTRADRV_TEXT_SIZE] = {};
    const bool ok = KESTRAdrv_FindDevice(full, number);
    if (ok) {
        full[KESTRADRV_TEXT_SIZE - 1] = 0;
        name = QString::fromUtf16(full);
    } else {
        device.setConnected(false);
    }
    lock.unlock();
    log(QStringLiteral("Getting device name. Result:%1\n").arg(QLatin1String(yesNo(ok))));
    return ok;
}

bool DevWorker::synchronizeClock(DeviceState& device)
{
    if (!initDevice(device, device.portName(), false))
        return false;
    Lock lock(device.driverLock());
    const bool ok = KESTRAdrv_SetDeviceTime();
    log(QStringLiteral("Synchronizing time. Result:%1\n").arg(QLatin1String(yesNo(ok))));
    return ok;
}

bool DevWorker::clearHistory(DeviceState& device)
{
    if (!initDevice(device, device.portName(), false))
        return false;
    Lock lock(device.driverLock());
    return KESTRAdrv_ClearHistory();
}

bool DevWorker::readUserParams(DeviceState& device, CUserParams& params, const QString& portName)
{
    log(QStringLiteral("DevWorker::Start getting user parameters"));
    if (!initDevice(device, portName, true)) {
        log(QStringLiteral("DevWorker::Error in initializing device!!!"));
        return false;
    }
    log(QStringLiteral("DevWorker::Getting user parameters. Init port passed"));
    Lock lock(device.driverLock());
    log(QStringLiteral("DevWorker::Getting user parameters. Port locked."));

    bool result = false;
    for (int n = 0; n < ReadAttempts && !result; ++n) {
        log(QStringLiteral("DevWorker::Begin data request no %1").arg(n));
        result = true;
        // Every call runs even after one failed, so that the log tells which ones fail.
        auto step = [&](bool ok, const char* what) {
            log(QStringLiteral("DevWorker::Data request no %1. Receiving %2 value Result: %3")
                    .arg(QString::number(n), QLatin1String(what), QLatin1String(yesNo(ok))));
            result = result && ok;
        };
        uint8_t flag = 0;
        bool ok = KESTRAdrv_GetSound(&flag);
        if (ok)
            params.sound = flag != 0;
        step(ok, "sound");
        ok = KESTRAdrv_GetSearchBeep(&flag);
        if (ok)
            params.searchBeep = flag != 0;
        step(ok, "beep");
        uint16_t interval = 0;
        ok = KESTRAdrv_GetHistTime(&interval);
        if (ok)
            params.historyInterval = interval;
        step(ok, "history timeout");
        step(KESTRAdrv_GetBetaThresh(1, &params.betaThreshold1), "BetaThr1");
        step(KESTRAdrv_GetBetaThresh(2, &params.betaThreshold2), "BetaThr2");
        step(KESTRAdrv_GetSearchBetaThr(&params.searchBetaThreshold), "SearchBetaThr");
        step(KESTRAdrv_GetDERThresh(1, &params.derThreshold1), "DerThr1");
        // The second DER threshold logs under the first one's name, as it always has.
        step(KESTRAdrv_GetDERThresh(2, &params.derThreshold2), "DerThr1");
        ok = KESTRAdrv_GetMeasUnits(&flag);
        if (ok)
            params.units = flag;
        step(ok, "measure units");
        log(QStringLiteral("DevWorker::End data request no %1. Result: %2")
                .arg(QString::number(n), QLatin1String(yesNo(result))));
    }
    return result;
}

bool DevWorker::writeUserParams(DeviceState& device, const CUserParams& params, const QString& portName)
{
    if (!initDevice(device, portName, true))
        return false;
    Lock lock(device.driverLock());
    bool allCalls = true;
    bool equal = true;
    auto check = [&](bool setOk, bool getOk, bool same) {
        allCalls = allCalls && setOk && getOk;
        equal = equal && getOk && same;
    };

    uint8_t byte = 0;
    bool set = KESTRAdrv_SetMeasUnits(params.units);
    bool got = KESTRAdrv_GetMeasUnits(&byte);
    check(set, got, byte == params.units);

    set = KESTRAdrv_SetSound(params.sound ? 1 : 0);
    got = KESTRAdrv_GetSound(&byte);
    check(set, got, byte == (params.sound ? 1 : 0));

    set = KESTRAdrv_SetSearchBeep(params.searchBeep ? 1 : 0);
    got = KESTRAdrv_GetSearchBeep(&byte);
    check(set, got, byte == (params.searchBeep ? 1 : 0));

    // The instrument holds 16 bits: an interval beyond them cannot read back equal.
    uint16_t interval = 0;
    set = KESTRAdrv_SetHistTime(params.historyInterval);
    got = KESTRAdrv_GetHistTime(&interval);
    check(set, got, static_cast<qint32>(interval) == params.historyInterval);

    int32_t value = 0;
    for (int level : { 1, 2 }) {
        const qint32 written = level == 1 ? params.betaThreshold1 : params.betaThreshold2;
        set = KESTRAdrv_SetBetaThresh(level, written);
        got = KESTRAdrv_GetBetaThresh(level, &value);
        check(set, got, ReadBack::closeEnough(written, value));
    }

    double real = 0;
    set = KESTRAdrv_SetSearchBetaThr(params.searchBetaThreshold);
    got = KESTRAdrv_GetSearchBetaThr(&real);
    check(set, got, ReadBack::sameThousandths(params.searchBetaThreshold, real));

    for (int level : { 1, 2 }) {
        const qint32 written = level == 1 ? params.derThreshold1 : params.derThreshold2;
        set = KESTRAdrv_SetDERThresh(level, written);
        got = KESTRAdrv_GetDERThresh(level, &value);
        check(set, got, ReadBack::closeEnough(written, value));
    }
    lock.unlock();

    const bool result = allCalls && equal;
    log(QStringLiteral("Writing user parameters. Result:%1\n").arg(QLatin1String(yesNo(result))));
    return result;
}

bool DevWorker::downloadHistory()
{
    m_spoolPath.clear();
    m_spoolError.clear();
    if (!m_pager || !m_output)
        return false;
    log(QStringLiteral("Getting history begin."));
    if (!initDevice(m_device, m_portName, false))
        return false;

    Lock lock(m_device.driverLock());
    int32_t count = 0;
    KESTRAdrv_EventRecord* array = nullptr;
    if (!KESTRAdrv_GetHistory(&count, &array) || count < 0 || (count > 0 && !array)) {
        lock.unlock();
        log(QStringLiteral("Error getting history!\n"));
        return false;
    }
    const QString pagerId = m_pager->identifier();
    const QList<ChistoryRec> records = HistoryConversion::toRecords(
        std::span<const KESTRAdrv_EventRecord>(array, static_cast<size_t>(count)), pagerId);

    // The instrument's memory is cleared only once the download is safe on disk: a crash, a
    // power cut or a database error later on must not lose anyone's dose record.
    bool durable = records.isEmpty();
    if (!durable) {
        QString error;
        HistorySpool spool(m_spoolFolder.isEmpty() ? m_device.spoolFolder() : m_spoolFolder);
        durable = spool.write(pagerId, records, &m_spoolPath, &error);
        if (!durable) {
            m_spoolError = QStringLiteral("The downloaded history could not be saved in the spool folder %1, so the "
                                          "instrument's history was not cleared: %2")
                               .arg(spool.folder(), error);
            log(QStringLiteral("Error saving history! The instrument's history is not cleared. ") + error + u'\n');
        }
    }
    if (durable) {
        log(QStringLiteral("Getting history end. Clearing history."));
        KESTRAdrv_ClearHistory(); // a failed clear still returns the records; the next download dedups
        if (auto hook = afterClearHook.load())
            hook();
        log(QStringLiteral("Clearing history end.\n"));
    }
    lock.unlock();

    for (const auto& record : records) {
        if (!m_pager->isDuplicate(record))
            m_output->addRecord(record);
    }
    return true;
}
