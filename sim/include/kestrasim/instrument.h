#pragma once

// The instrument's state machine without any transport: settings, measurement, alarms, dose,
// history and the command set. The simulator drives it from its thread under a lock; tests may
// drive it directly with a clock of their own.

#include "kestrasim/records.h"
#include "kestrasim/scenario.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kestra::sim {

/// Alarm word bits as reported after "alarm=" in "info".
enum AlarmBit : uint16_t {
    AlarmGammaWarning = 0x0001,
    AlarmGammaDanger = 0x0002,
    AlarmOverload = 0x0004,
    AlarmDoseThreshold = 0x0008,
    AlarmSearch = 0x0010,
    AlarmBetaWarning = 0x0400,
    AlarmBetaDanger = 0x0800,
    AlarmAutocalibration = 0x8000,
};

/// Device modes as the driver numbers them.
enum DeviceMode : int {
    ModeNone = 0,
    ModeReadHistory = 1,
    ModeTest = 2,
    ModeGamma = 3,
    ModeBeta1 = 4,
    ModeBeta2 = 5,
    ModeSurvey = 6,
    ModeBackground = 7,
    ModeSearch = 8,
};

/// Everything that survives a restart (the state file holds these and the history).
struct Settings {
    std::string number = "123456";
    bool roentgen = false;
    bool sound = true;
    bool light = false;
    bool searchBeep = true;
    double sigma = 2.0;
    uint16_t qmTimeout = 0x003C;
    double derThreshold1 = 3.0e-4; // Sv/h (0.3 mSv/h)
    double derThreshold2 = 1.0e-3; // Sv/h
    double deThreshold = 1.0e-3; // Sv
    int hvCode = 0x0190;
    double kDer = 1.0;
    int kBeta = 45;
    int kAlpha = 30;
    double ownBackground = 5.0e-8; // Sv/h
    int betaThreshold1 = 10; // CPM/cm^2
    int betaThreshold2 = 100;
    double searchBetaThreshold = 100.0; // CPS
    std::array<uint8_t, 28> menu = { 0x01, 0x01, 0x00, 0x01, 0x03, 0x00, 0x00, 0x0A, 0x00, 0x64, 0x00, 0x3C, 0x02, 0x00,
        0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 };
    uint16_t historyInterval = 600; // seconds
    int64_t clockOffset = 0; // instrument clock minus PC local clock, seconds
    int mode = ModeGamma;
    bool locked = false;
    double autocalRate = 8.0e-5; // Sv/h
    int autocalTolerance = 2;
    int autocalPrecision = 50;
    double dose = 0.0; // accumulated, Sv
    double doseTime = 0.0; // accumulation time, s
    int battery = 9; // 0..10, reported as "n="
};

class Instrument {
public:
    static constexpr std::size_t kMaxHistoryRecords = 1'000'000;
    static constexpr std::size_t kMaxFirmwareBytes = 4 * 1024 * 1024;
    static constexpr double kAutocalSeconds = 20.0;

    explicit Instrument(unsigned seed = 1);

    Settings& settings() { return m_settings; }
    const Settings& settings() const { return m_settings; }

    /// Answers one command (the text between "$XXXX " and " CRC=") and returns the reply payload
    /// (without prefix, number and checksum). `now` is the PC local clock in seconds since 1999.
    /// A frame with the same sequence number and command as the previous one, within a short
    /// time, is a retry by the host: it gets the previous answer again without running twice,
    /// so a lost reply never skips a history chunk or appends a firmware packet twice.
    std::string handle(std::string_view command, uint16_t sequence, double now);
    /// Answers without retry detection.
    std::string execute(std::string_view command, double now);

    /// Advances measurement, dose, alarms, autocalibration and live history to `now`.
    void tick(double now);

    uint32_t clock(double now) const; // the instrument clock, seconds since 1999

    // history
    const std::vector<RawRecord>& history() const { return m_history; }
    void setHistory(std::vector<RawRecord> records);
    void appendHistory(const RawRecord& record);
    /// Pre-fills `count` plausible records spread over the `days` days before `now`.
    void prefillHistory(int count, int days, double now);
    bool downloading() const { return m_download.has_value(); }
    /// Payload bytes of history data per chunk; 0 = the most that fits in the driver's buffer.
    void setChunkBytes(std::size_t bytes) { m_chunkBytes = bytes; }
    std::size_t chunkBytes() const;
    void setLiveHistory(bool on) { m_liveHistory = on; }

    // measurement sources
    void setDoseRate(double svPerHour); // stops a running scenario
    double doseRate() const { return m_doseRate; }
    void setBetaFlux(double cpmPerCm2) { m_betaFlux = cpmPerCm2; }
    double betaFlux() const { return m_betaFlux; }
    void setScenario(Scenario scenario, double now);
    uint16_t alarmWord() const;

    // autocalibration and firmware
    bool autocalRunning() const { return m_autocalRunning; }
    const std::vector<uint8_t>& firmwareReceived() const { return m_firmware; }
    int firmwarePackets() const { return m_firmwarePackets; }
    const std::vector<uint8_t>& firmwareLoaded() const { return m_firmwareLoaded; }
    int firmwareLoads() const { return m_firmwareLoads; }

    /// Detector version texts, parts 0..3.
    static std::string versionText(int part);

    /// Settings changed since the last call (for saving the state file).
    bool takeDirty();

private:
    struct Download {
        std::vector<RawRecord> records;
        std::size_t offset = 0; // bytes sent so far
        double lastRequest = 0;
    };
    struct Measurement {
        double value; // in the mode's wire unit
        int precision;
    };

    std::string chunkPayload();
    std::string infoPayload(double now);
    Measurement measure(double now);
    double countRate() const;
    std::string putSetting(std::string_view command, double now, bool* handled);
    std::string getSetting(std::string_view command, bool* handled);
    void appendMeasurementRecord(uint32_t time);
    void appendAlarmRecords(uint16_t risen, uint32_t time);
    double currentRate(double now) const;
    void markDirty() { m_dirty = true; }

    Settings m_settings;
    std::vector<RawRecord> m_history;
    std::optional<Download> m_download;
    std::size_t m_chunkBytes = 0;
    bool m_liveHistory = true;

    double m_doseRate = 1.0e-7;
    double m_betaFlux = 2.0;
    Scenario m_scenario;
    double m_scenarioStart = 0;
    double m_lastTick = -1;
    double m_nextRecord = -1;
    uint16_t m_alarms = 0;

    bool m_autocalRunning = false;
    double m_autocalStart = 0;

    std::vector<uint8_t> m_firmware;
    int m_firmwarePackets = 0;
    std::vector<uint8_t> m_firmwareLoaded;
    int m_firmwareLoads = 0;

    uint16_t m_lastSequence = 0;
    std::string m_lastCommand;
    std::string m_lastReply;
    double m_lastCommandTime = -1e9;

    std::mt19937 m_rng;
    bool m_dirty = false;
};

/// State file: "key=value" lines for every setting and one "record=" line per history record.
bool saveState(
    const std::string& path, const Settings& settings, const std::vector<RawRecord>& history, std::string* error);
bool loadState(const std::string& path, Settings* settings, std::vector<RawRecord>* history, std::string* error);

} // namespace kestra::sim
