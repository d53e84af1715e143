#pragma once

#include "driver.h"

#include <KESTRAdrv.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

/// The instrument's command set over one Driver. Each routine is what one export does; the
/// exports pass the results through unchanged.
namespace kestra::cmd {

// Settings
bool getMeasUnits(Driver& d, uint8_t* roentgen);
bool setMeasUnits(Driver& d, bool roentgen);
bool getSound(Driver& d, uint8_t* on);
bool setSound(Driver& d, bool on);
bool getLight(Driver& d, uint8_t* on);
bool setLight(Driver& d, bool on);
bool getSearchBeep(Driver& d, uint8_t* on);
bool setSearchBeep(Driver& d, bool on);
bool getCoeffN(Driver& d, double* sigma);
bool setCoeffN(Driver& d, double sigma);
bool getQMTimeOut(Driver& d, uint16_t* timeout);
bool setQMTimeOut(Driver& d, int32_t timeout);
bool getDERThresh(Driver& d, int32_t level, int32_t* threshold);
bool setDERThresh(Driver& d, int32_t level, int32_t threshold);
bool getDEThresh(Driver& d, double* threshold);
bool setDEThresh(Driver& d, double threshold);
bool getCoeffHV(Driver& d, int32_t* code);
bool setCoeffHV(Driver& d, int32_t code);
bool getCoeffDER(Driver& d, double* coefficient);
bool setCoeffDER(Driver& d, double coefficient);
bool getCoeffBeta(Driver& d, int32_t* coefficient);
bool setCoeffBeta(Driver& d, int32_t coefficient);
bool getCoeffAlpha(Driver& d, int32_t* coefficient);
bool setCoeffAlpha(Driver& d, int32_t coefficient);
bool getDetBkg(Driver& d, double* background);
bool setDetBkg(Driver& d, double background);
bool getBetaThresh(Driver& d, int32_t level, int32_t* threshold);
bool setBetaThresh(Driver& d, int32_t level, int32_t threshold);
bool getSearchBetaThr(Driver& d, double* threshold);
bool setSearchBetaThr(Driver& d, double threshold);
bool getDeviceMenu(Driver& d, uint8_t* menu);
bool setDeviceMenu(Driver& d, const uint8_t* menu);
bool setDeviceMode(Driver& d, int32_t mode);
bool setDeviceLock(Driver& d, bool lock);
bool resetDose(Driver& d);
bool resetStatistic(Driver& d, int32_t kind);

// Status, measurement and alarms
bool getDeviceMode(Driver& d, int32_t* mode);
bool getMeasurementValue(Driver& d, int32_t* mode, double* value, int32_t* precision, uint16_t* alarm, uint8_t* status);
int32_t getAlarmInfo(Driver& d, uint16_t* alarm);
bool getDose(Driver& d, double* rate, int32_t* time, int32_t* dose);
bool getBattery(Driver& d, int32_t* value);

// History and clock
bool getHistory(Driver& d, int32_t* count, KESTRAdrv_EventRecord** records);
bool getHistTime(Driver& d, uint16_t* interval);
bool setHistTime(Driver& d, int32_t interval);
bool clearHistory(Driver& d);
bool getDeviceTime(Driver& d, SYSTEMTIME* time);
bool setDeviceTime(Driver& d);

// Calibration, detector versions, firmware
bool setAutocalibration(Driver& d, int32_t rate, int32_t tolerance, int32_t precision);
bool getAutocalParams(Driver& d, int32_t* rate, int32_t* tolerance, int32_t* precision);
bool stopAutocalibration(Driver& d);
bool getAutocalibration(Driver& d, uint8_t* running);
bool getDeviceVersion(Driver& d, int32_t part, char* text);
bool writeDeviceProg(Driver& d, const uint8_t* image, int32_t length);

/// Number check, then one transaction with the ordinary time-out; `reload` refreshes the
/// detector parameters first.
bool query(Driver& d, const std::string& command, std::string& payload, bool reload = false);
/// Number check, then one transaction; with an echo, the payload must contain it.
bool send(Driver& d, const std::string& command, std::string_view echo = {}, int timeoutMs = 1000);

/// A get command: refuses a null output without an exchange, queries, reads the value from the
/// payload (no value fails the call) and writes the output only then.
template <typename Out, typename Read>
bool getValue(Driver& d, const std::string& command, Out* out, Read read, bool reload = false)
{
    if (!out)
        return false;
    std::lock_guard lock(d.portLock());
    std::string payload;
    if (!query(d, command, payload, reload))
        return false;
    auto value = read(std::string_view(payload));
    if (!value)
        return false;
    *out = static_cast<Out>(*value);
    return true;
}

} // namespace kestra::cmd
