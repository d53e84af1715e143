#pragma once

#include "device/measurementtexts.h"

#include "history/historylist.h"
#include "history/measurements.h"
#include "history/pager.h"
#include "history/userparams.h"

#include <QString>
#include <QThread>

#include <atomic>

class DeviceState;
class ViewFlags;

// The application's only road to the instrument.
//
// A DevWorker object runs one long job on a thread of its own: the creator fills in the command
// and its arguments, sets busy, starts it and polls isBusy() (every 50 ms, keeping its window
// painted) until the job is done, then reads succeeded() and deletes the object. The short
// operations are static, take the program's device state and run on the caller's thread. Every
// driver call is made under the driver lock, and progress goes to the application log.
class DevWorker : public QThread {
public:
    enum Command : qint32 { ReadUserParams = 2, ReadHistory = 3, WriteUserParams = 4 };

    explicit DevWorker(DeviceState& device, QObject* parent = nullptr);
    ~DevWorker() override; // waits for a running job

    void setCommand(qint32 command) { m_command = command; }
    qint32 command() const { return m_command; }
    // Commands 2 (output) and 4 (input).
    void setUserParams(CUserParams* params) { m_params = params; }
    // Command 3: the instrument whose history is read and the list that receives its new events.
    void setPager(const CPager* pager) { m_pager = pager; }
    void setOutputList(CHistoryList* list) { m_output = list; }
    // The port opened by the port check; the device state's port name when the object is made.
    void setPortName(const QString& port) { m_portName = port; }
    const QString& portName() const { return m_portName; }
    // Where command 3 keeps the download until it is stored; the device state's spool folder unless set.
    void setSpoolFolder(const QString& folder) { m_spoolFolder = folder; }
    // The spool written by the last command 3, to be removed (HistorySpool::remove) once its
    // events are committed; empty when nothing was spooled.
    const QString& spoolPath() const { return m_spoolPath; }
    // Why the last command 3 could not spool its download (a full disk, an unwritable folder),
    // naming the folder; the instrument then keeps its history and the records are still
    // handed on. Empty when the download was spooled or there was nothing to spool.
    const QString& spoolError() const { return m_spoolError; }

    bool isBusy() const { return m_busy.load(); }
    void setBusy(bool busy) { m_busy.store(busy); }
    bool succeeded() const { return m_success.load(); }
    // 1 after a successful command, 0 otherwise.
    int exitCode() const { return m_exitCode.load(); }

    // Runs the command on the calling thread, as the thread body does.
    bool execute();

    // The port check: opens the driver on the port when it is not open yet. Without force it
    // refuses while the connected flag is false.
    static bool initDevice(DeviceState& device, const QString& portName, bool force);

    // Short operations on the device state's port name.
    static bool readStatus(DeviceState& device, quint32& status); // forces the port check; status is the alarm word
    static bool readMeasurements(DeviceState& device, CMeasurements& measurements, bool unitsRoentgen);
    // The reading as figures (the station's web page and metrics), and the battery charge in percent.
    static bool readReading(DeviceState& device, MeasurementTexts::Reading& reading);
    static bool readBattery(DeviceState& device, int& percent);
    static bool readUnits(DeviceState& device, ViewFlags& flags); // into the units flag
    static bool instrumentName(DeviceState& device, QString& name); // clears the connected flag on failure
    static bool synchronizeClock(DeviceState& device);
    static bool clearHistory(DeviceState& device);

    // The jobs themselves, on the calling thread.
    static bool readUserParams(DeviceState& device, CUserParams& params, const QString& portName);
    static bool writeUserParams(DeviceState& device, const CUserParams& params, const QString& portName);
    bool downloadHistory();

    // Test hook: called right after the instrument's memory was cleared, before anything else.
    static void setAfterClearHook(void (*hook)());

protected:
    void run() override;

private:
    DeviceState& m_device;
    std::atomic<bool> m_busy { false };
    std::atomic<bool> m_success { false };
    std::atomic<int> m_exitCode { 0 };
    qint32 m_command = 0;
    CUserParams* m_params = nullptr;
    const CPager* m_pager = nullptr;
    CHistoryList* m_output = nullptr;
    QString m_portName;
    QString m_spoolFolder;
    QString m_spoolPath;
    QString m_spoolError;
};

// The equality rules of the user-parameter read-back.
namespace ReadBack {
// Integer thresholds: within 1.
bool closeEnough(qint32 written, qint32 read);
// Search threshold: equal to a thousandth, and the written value must be a whole number of
// thousandths (the instrument's resolution).
bool sameThousandths(double written, double read);
} // namespace ReadBack
