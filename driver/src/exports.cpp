#include "exports.h"

#include "commands.h"
#include "crc.h"
#include "frame.h"
#include "posix_transport.h"
#include "text.h"

#include "kestracommon/utf.h"

#include <cstddef>

static_assert(sizeof(SYSTEMTIME) == 16);
static_assert(sizeof(KESTRAdrv_EventRecord) == 48);
static_assert(offsetof(KESTRAdrv_EventRecord, type) == 0);
static_assert(offsetof(KESTRAdrv_EventRecord, time) == 2);
static_assert(offsetof(KESTRAdrv_EventRecord, value1) == 24);
static_assert(offsetof(KESTRAdrv_EventRecord, value2) == 32);
static_assert(offsetof(KESTRAdrv_EventRecord, param1) == 40);
static_assert(offsetof(KESTRAdrv_EventRecord, param2) == 44);

namespace kestra {

Driver& instance()
{
    static Driver driver(std::make_unique<PosixTransport>());
    return driver;
}

void logEscapedException(const char* exportName, const char* what) noexcept
{
    try {
        instance().log().entry(std::string(exportName) + ": internal error: " + what);
    } catch (...) {
        // Nothing left to report with: the export still returns its failure value.
    }
}

} // namespace kestra

extern "C" {

uint8_t KESTRAdrv_Init(const char16_t* logDir, const char16_t* portName, int32_t baudRate)
{
    return kestra::guarded("KESTRAdrv_Init", uint8_t(0), [&] {
        return kestra::instance().init(kestra::common::utf16ToUtf8(logDir, 4096, 4096),
            kestra::common::utf16ToUtf8(portName, 4096, 4096), baudRate);
    });
}

uint8_t KESTRAdrv_Close(void)
{
    return kestra::guarded("KESTRAdrv_Close", uint8_t(0), [&] {
        kestra::instance().close();
        return 1;
    });
}

uint8_t KESTRAdrv_FindDevice(char16_t* fullId, char16_t* number)
{
    return kestra::guarded("KESTRAdrv_FindDevice", uint8_t(0), [&] {
        std::string full, alone;
        if (!kestra::instance().getId(&full, &alone))
            return 0;
        kestra::common::utf8ToUtf16(full, fullId, KESTRADRV_TEXT_SIZE);
        kestra::common::utf8ToUtf16(alone, number, KESTRADRV_TEXT_SIZE);
        return 1;
    });
}

uint8_t KESTRAdrv_GetDeviceMode(int32_t* mode)
{
    return kestra::guarded(
        "KESTRAdrv_GetDeviceMode", uint8_t(0), [&] { return kestra::cmd::getDeviceMode(kestra::instance(), mode); });
}

uint8_t KESTRAdrv_SetDeviceMode(int32_t mode)
{
    return kestra::guarded(
        "KESTRAdrv_SetDeviceMode", uint8_t(0), [&] { return kestra::cmd::setDeviceMode(kestra::instance(), mode); });
}

uint8_t KESTRAdrv_GetMeasUnits(uint8_t* roentgen)
{
    return kestra::guarded(
        "KESTRAdrv_GetMeasUnits", uint8_t(0), [&] { return kestra::cmd::getMeasUnits(kestra::instance(), roentgen); });
}

uint8_t KESTRAdrv_SetMeasUnits(uint8_t roentgen)
{
    return kestra::guarded(
        "KESTRAdrv_SetMeasUnits", uint8_t(0), [&] { return kestra::cmd::setMeasUnits(kestra::instance(), roentgen); });
}

uint8_t KESTRAdrv_GetSound(uint8_t* on)
{
    return kestra::guarded(
        "KESTRAdrv_GetSound", uint8_t(0), [&] { return kestra::cmd::getSound(kestra::instance(), on); });
}

uint8_t KESTRAdrv_SetSound(uint8_t on)
{
    return kestra::guarded(
        "KESTRAdrv_SetSound", uint8_t(0), [&] { return kestra::cmd::setSound(kestra::instance(), on); });
}

uint8_t KESTRAdrv_GetLight(uint8_t* on)
{
    return kestra::guarded(
        "KESTRAdrv_GetLight", uint8_t(0), [&] { return kestra::cmd::getLight(kestra::instance(), on); });
}

uint8_t KESTRAdrv_SetLight(uint8_t on)
{
    return kestra::guarded(
        "KESTRAdrv_SetLight", uint8_t(0), [&] { return kestra::cmd::setLight(kestra::instance(), on); });
}

uint8_t KESTRAdrv_GetBattery(int32_t* value)
{
    return kestra::guarded(
        "KESTRAdrv_GetBattery", uint8_t(0), [&] { return kestra::cmd::getBattery(kestra::instance(), value); });
}

uint8_t KESTRAdrv_GetDose(double* rate, int32_t* time, int32_t* dose)
{
    return kestra::guarded(
        "KESTRAdrv_GetDose", uint8_t(0), [&] { return kestra::cmd::getDose(kestra::instance(), rate, time, dose); });
}

uint8_t KESTRAdrv_ResetDose(void)
{
    return kestra::guarded(
        "KESTRAdrv_ResetDose", uint8_t(0), [&] { return kestra::cmd::resetDose(kestra::instance()); });
}

uint8_t KESTRAdrv_ResetStatistic(int32_t kind)
{
    return kestra::guarded(
        "KESTRAdrv_ResetStatistic", uint8_t(0), [&] { return kestra::cmd::resetStatistic(kestra::instance(), kind); });
}

uint8_t KESTRAdrv_SetAutocalibration(int32_t rate, int32_t tolerance, int32_t precision)
{
    return kestra::guarded("KESTRAdrv_SetAutocalibration", uint8_t(0),
        [&] { return kestra::cmd::setAutocalibration(kestra::instance(), rate, tolerance, precision); });
}

uint8_t KESTRAdrv_GetAutocalParams(int32_t* rate, int32_t* tolerance, int32_t* precision)
{
    return kestra::guarded("KESTRAdrv_GetAutocalParams", uint8_t(0),
        [&] { return kestra::cmd::getAutocalParams(kestra::instance(), rate, tolerance, precision); });
}

uint8_t KESTRAdrv_StopAutocalibration(void)
{
    return kestra::guarded("KESTRAdrv_StopAutocalibration", uint8_t(0),
        [&] { return kestra::cmd::stopAutocalibration(kestra::instance()); });
}

uint8_t KESTRAdrv_GetAutocalibration(uint8_t* running)
{
    return kestra::guarded("KESTRAdrv_GetAutocalibration", uint8_t(0),
        [&] { return kestra::cmd::getAutocalibration(kestra::instance(), running); });
}

uint8_t KESTRAdrv_GetHistTime(uint16_t* interval)
{
    return kestra::guarded(
        "KESTRAdrv_GetHistTime", uint8_t(0), [&] { return kestra::cmd::getHistTime(kestra::instance(), interval); });
}

uint8_t KESTRAdrv_SetHistTime(int32_t interval)
{
    return kestra::guarded(
        "KESTRAdrv_SetHistTime", uint8_t(0), [&] { return kestra::cmd::setHistTime(kestra::instance(), interval); });
}

uint8_t KESTRAdrv_ClearHistory(void)
{
    return kestra::guarded(
        "KESTRAdrv_ClearHistory", uint8_t(0), [&] { return kestra::cmd::clearHistory(kestra::instance()); });
}

uint8_t KESTRAdrv_SetDeviceLock(uint8_t lock)
{
    return kestra::guarded(
        "KESTRAdrv_SetDeviceLock", uint8_t(0), [&] { return kestra::cmd::setDeviceLock(kestra::instance(), lock); });
}

uint8_t KESTRAdrv_GetDeviceVersion(int32_t part, char* text)
{
    return kestra::guarded("KESTRAdrv_GetDeviceVersion", uint8_t(0),
        [&] { return kestra::cmd::getDeviceVersion(kestra::instance(), part, text); });
}

uint8_t KESTRAdrv_GetDeviceTime(SYSTEMTIME* time)
{
    return kestra::guarded(
        "KESTRAdrv_GetDeviceTime", uint8_t(0), [&] { return kestra::cmd::getDeviceTime(kestra::instance(), time); });
}

uint8_t KESTRAdrv_SetDeviceTime(void)
{
    return kestra::guarded(
        "KESTRAdrv_SetDeviceTime", uint8_t(0), [&] { return kestra::cmd::setDeviceTime(kestra::instance()); });
}

uint8_t KESTRAdrv_SetCoeffN(double sigma)
{
    return kestra::guarded(
        "KESTRAdrv_SetCoeffN", uint8_t(0), [&] { return kestra::cmd::setCoeffN(kestra::instance(), sigma); });
}

uint8_t KESTRAdrv_GetCoeffN(double* sigma)
{
    return kestra::guarded(
        "KESTRAdrv_GetCoeffN", uint8_t(0), [&] { return kestra::cmd::getCoeffN(kestra::instance(), sigma); });
}

uint8_t KESTRAdrv_SetQMTimeOut(int32_t timeout)
{
    return kestra::guarded(
        "KESTRAdrv_SetQMTimeOut", uint8_t(0), [&] { return kestra::cmd::setQMTimeOut(kestra::instance(), timeout); });
}

uint8_t KESTRAdrv_GetQMTimeOut(uint16_t* timeout)
{
    return kestra::guarded(
        "KESTRAdrv_GetQMTimeOut", uint8_t(0), [&] { return kestra::cmd::getQMTimeOut(kestra::instance(), timeout); });
}

uint8_t KESTRAdrv_GetDERThresh(int32_t level, int32_t* threshold)
{
    return kestra::guarded("KESTRAdrv_GetDERThresh", uint8_t(0),
        [&] { return kestra::cmd::getDERThresh(kestra::instance(), level, threshold); });
}

uint8_t KESTRAdrv_SetDERThresh(int32_t level, int32_t threshold)
{
    return kestra::guarded("KESTRAdrv_SetDERThresh", uint8_t(0),
        [&] { return kestra::cmd::setDERThresh(kestra::instance(), level, threshold); });
}

uint8_t KESTRAdrv_GetDEThresh(double* threshold)
{
    return kestra::guarded(
        "KESTRAdrv_GetDEThresh", uint8_t(0), [&] { return kestra::cmd::getDEThresh(kestra::instance(), threshold); });
}

uint8_t KESTRAdrv_SetDEThresh(double threshold)
{
    return kestra::guarded(
        "KESTRAdrv_SetDEThresh", uint8_t(0), [&] { return kestra::cmd::setDEThresh(kestra::instance(), threshold); });
}

uint8_t KESTRAdrv_SetCoeffHV(int32_t code)
{
    return kestra::guarded(
        "KESTRAdrv_SetCoeffHV", uint8_t(0), [&] { return kestra::cmd::setCoeffHV(kestra::instance(), code); });
}

uint8_t KESTRAdrv_GetCoeffHV(int32_t* code)
{
    return kestra::guarded(
        "KESTRAdrv_GetCoeffHV", uint8_t(0), [&] { return kestra::cmd::getCoeffHV(kestra::instance(), code); });
}

uint8_t KESTRAdrv_SetCoeffDER(double coefficient)
{
    return kestra::guarded(
        "KESTRAdrv_SetCoeffDER", uint8_t(0), [&] { return kestra::cmd::setCoeffDER(kestra::instance(), coefficient); });
}

uint8_t KESTRAdrv_GetCoeffDER(double* coefficient)
{
    return kestra::guarded(
        "KESTRAdrv_GetCoeffDER", uint8_t(0), [&] { return kestra::cmd::getCoeffDER(kestra::instance(), coefficient); });
}

uint8_t KESTRAdrv_GetDetBkg(double* background)
{
    return kestra::guarded(
        "KESTRAdrv_GetDetBkg", uint8_t(0), [&] { return kestra::cmd::getDetBkg(kestra::instance(), background); });
}

uint8_t KESTRAdrv_SetDetBkg(double background)
{
    return kestra::guarded(
        "KESTRAdrv_SetDetBkg", uint8_t(0), [&] { return kestra::cmd::setDetBkg(kestra::instance(), background); });
}

uint8_t KESTRAdrv_GetMeasurementValue(
    int32_t* mode, double* value, int32_t* precision, uint16_t* alarm, uint8_t* status)
{
    return kestra::guarded("KESTRAdrv_GetMeasurementValue", uint8_t(0),
        [&] { return kestra::cmd::getMeasurementValue(kestra::instance(), mode, value, precision, alarm, status); });
}

uint8_t KESTRAdrv_IsDrvInit(void)
{
    return kestra::guarded("KESTRAdrv_IsDrvInit", uint8_t(0), [&] { return kestra::instance().isOpen(); });
}

uint8_t KESTRAdrv_SetCoeffBeta(int32_t coefficient)
{
    return kestra::guarded("KESTRAdrv_SetCoeffBeta", uint8_t(0),
        [&] { return kestra::cmd::setCoeffBeta(kestra::instance(), coefficient); });
}

uint8_t KESTRAdrv_GetCoeffBeta(int32_t* coefficient)
{
    return kestra::guarded("KESTRAdrv_GetCoeffBeta", uint8_t(0),
        [&] { return kestra::cmd::getCoeffBeta(kestra::instance(), coefficient); });
}

uint8_t KESTRAdrv_SetDeviceNumber(const char16_t* number)
{
    return kestra::guarded("KESTRAdrv_SetDeviceNumber", uint8_t(0), [&] {
        std::string text = kestra::common::utf16ToUtf8(number, SIZE_MAX, kestra::maxNumberLength);
        return kestra::instance().setId(number ? &text : nullptr);
    });
}

uint8_t KESTRAdrv_GetHistory(int32_t* count, KESTRAdrv_EventRecord** records)
{
    return kestra::guarded("KESTRAdrv_GetHistory", uint8_t(0),
        [&] { return kestra::cmd::getHistory(kestra::instance(), count, records); });
}

int32_t KESTRAdrv_GetAlarmInfo(uint16_t* alarm)
{
    return kestra::guarded(
        "KESTRAdrv_GetAlarmInfo", int32_t(-1), [&] { return kestra::cmd::getAlarmInfo(kestra::instance(), alarm); });
}

uint8_t KESTRAdrv_GetSearchBeep(uint8_t* on)
{
    return kestra::guarded(
        "KESTRAdrv_GetSearchBeep", uint8_t(0), [&] { return kestra::cmd::getSearchBeep(kestra::instance(), on); });
}

uint8_t KESTRAdrv_SetSearchBeep(uint8_t on)
{
    return kestra::guarded(
        "KESTRAdrv_SetSearchBeep", uint8_t(0), [&] { return kestra::cmd::setSearchBeep(kestra::instance(), on); });
}

uint8_t KESTRAdrv_SetCoeffAlpha(int32_t coefficient)
{
    return kestra::guarded("KESTRAdrv_SetCoeffAlpha", uint8_t(0),
        [&] { return kestra::cmd::setCoeffAlpha(kestra::instance(), coefficient); });
}

uint8_t KESTRAdrv_GetCoeffAlpha(int32_t* coefficient)
{
    return kestra::guarded("KESTRAdrv_GetCoeffAlpha", uint8_t(0),
        [&] { return kestra::cmd::getCoeffAlpha(kestra::instance(), coefficient); });
}

uint8_t KESTRAdrv_GetBetaThresh(int32_t level, int32_t* threshold)
{
    return kestra::guarded("KESTRAdrv_GetBetaThresh", uint8_t(0),
        [&] { return kestra::cmd::getBetaThresh(kestra::instance(), level, threshold); });
}

uint8_t KESTRAdrv_SetBetaThresh(int32_t level, int32_t threshold)
{
    return kestra::guarded("KESTRAdrv_SetBetaThresh", uint8_t(0),
        [&] { return kestra::cmd::setBetaThresh(kestra::instance(), level, threshold); });
}

uint8_t KESTRAdrv_GetSearchBetaThr(double* threshold)
{
    return kestra::guarded("KESTRAdrv_GetSearchBetaThr", uint8_t(0),
        [&] { return kestra::cmd::getSearchBetaThr(kestra::instance(), threshold); });
}

uint8_t KESTRAdrv_SetSearchBetaThr(double threshold)
{
    return kestra::guarded("KESTRAdrv_SetSearchBetaThr", uint8_t(0),
        [&] { return kestra::cmd::setSearchBetaThr(kestra::instance(), threshold); });
}

uint8_t KESTRAdrv_GetDeviceMenu(uint8_t* menu)
{
    return kestra::guarded(
        "KESTRAdrv_GetDeviceMenu", uint8_t(0), [&] { return kestra::cmd::getDeviceMenu(kestra::instance(), menu); });
}

uint8_t KESTRAdrv_SetDeviceMenu(const uint8_t* menu)
{
    return kestra::guarded(
        "KESTRAdrv_SetDeviceMenu", uint8_t(0), [&] { return kestra::cmd::setDeviceMenu(kestra::instance(), menu); });
}

uint8_t KESTRAdrv_WriteDeviceProg(const uint8_t* image, int32_t length)
{
    return kestra::guarded("KESTRAdrv_WriteDeviceProg", uint8_t(0),
        [&] { return kestra::cmd::writeDeviceProg(kestra::instance(), image, length); });
}

uint16_t KESTRAdrv_GetCmdCRC(const uint8_t* data, int32_t length)
{
    return kestra::guarded("KESTRAdrv_GetCmdCRC", uint16_t(0), [&] {
        return (data && length > 0) ? kestra::checksum(data, static_cast<std::size_t>(length))
                                    : kestra::checksum("", 0);
    });
}

} // extern "C"

namespace kestra {

std::span<const ExportEntry> exportTable()
{
    static const ExportEntry table[] = {
        { 2, "KESTRAdrv_Init", reinterpret_cast<void*>(&KESTRAdrv_Init) },
        { 3, "KESTRAdrv_Close", reinterpret_cast<void*>(&KESTRAdrv_Close) },
        { 4, "KESTRAdrv_FindDevice", reinterpret_cast<void*>(&KESTRAdrv_FindDevice) },
        { 5, "KESTRAdrv_GetDeviceMode", reinterpret_cast<void*>(&KESTRAdrv_GetDeviceMode) },
        { 6, "KESTRAdrv_SetDeviceMode", reinterpret_cast<void*>(&KESTRAdrv_SetDeviceMode) },
        { 7, "KESTRAdrv_GetMeasUnits", reinterpret_cast<void*>(&KESTRAdrv_GetMeasUnits) },
        { 8, "KESTRAdrv_SetMeasUnits", reinterpret_cast<void*>(&KESTRAdrv_SetMeasUnits) },
        { 9, "KESTRAdrv_GetSound", reinterpret_cast<void*>(&KESTRAdrv_GetSound) },
        { 10, "KESTRAdrv_SetSound", reinterpret_cast<void*>(&KESTRAdrv_SetSound) },
        { 11, "KESTRAdrv_GetLight", reinterpret_cast<void*>(&KESTRAdrv_GetLight) },
        { 12, "KESTRAdrv_SetLight", reinterpret_cast<void*>(&KESTRAdrv_SetLight) },
        { 13, "KESTRAdrv_GetBattery", reinterpret_cast<void*>(&KESTRAdrv_GetBattery) },
        { 14, "KESTRAdrv_GetDose", reinterpret_cast<void*>(&KESTRAdrv_GetDose) },
        { 15, "KESTRAdrv_ResetDose", reinterpret_cast<void*>(&KESTRAdrv_ResetDose) },
        { 16, "KESTRAdrv_ResetStatistic", reinterpret_cast<void*>(&KESTRAdrv_ResetStatistic) },
        { 17, "KESTRAdrv_SetAutocalibration", reinterpret_cast<void*>(&KESTRAdrv_SetAutocalibration) },
        { 18, "KESTRAdrv_GetAutocalParams", reinterpret_cast<void*>(&KESTRAdrv_GetAutocalParams) },
        { 19, "KESTRAdrv_StopAutocalibration", reinterpret_cast<void*>(&KESTRAdrv_StopAutocalibration) },
        { 20, "KESTRAdrv_GetAutocalibration", reinterpret_cast<void*>(&KESTRAdrv_GetAutocalibration) },
        { 21, "KESTRAdrv_GetHistTime", reinterpret_cast<void*>(&KESTRAdrv_GetHistTime) },
        { 22, "KESTRAdrv_SetHistTime", reinterpret_cast<void*>(&KESTRAdrv_SetHistTime) },
        { 23, "KESTRAdrv_ClearHistory", reinterpret_cast<void*>(&KESTRAdrv_ClearHistory) },
        { 24, "KESTRAdrv_SetDeviceLock", reinterpret_cast<void*>(&KESTRAdrv_SetDeviceLock) },
        { 25, "KESTRAdrv_GetDeviceVersion", reinterpret_cast<void*>(&KESTRAdrv_GetDeviceVersion) },
        { 26, "KESTRAdrv_GetDeviceTime", reinterpret_cast<void*>(&KESTRAdrv_GetDeviceTime) },
        { 27, "KESTRAdrv_SetDeviceTime", reinterpret_cast<void*>(&KESTRAdrv_SetDeviceTime) },
        { 28, "KESTRAdrv_SetCoeffN", reinterpret_cast<void*>(&KESTRAdrv_SetCoeffN) },
        { 29, "KESTRAdrv_GetCoeffN", reinterpret_cast<void*>(&KESTRAdrv_GetCoeffN) },
        { 30, "KESTRAdrv_SetQMTimeOut", reinterpret_cast<void*>(&KESTRAdrv_SetQMTimeOut) },
        { 31, "KESTRAdrv_GetQMTimeOut", reinterpret_cast<void*>(&KESTRAdrv_GetQMTimeOut) },
        { 32, "KESTRAdrv_GetDERThresh", reinterpret_cast<void*>(&KESTRAdrv_GetDERThresh) },
        { 33, "KESTRAdrv_SetDERThresh", reinterpret_cast<void*>(&KESTRAdrv_SetDERThresh) },
        { 34, "KESTRAdrv_GetDEThresh", reinterpret_cast<void*>(&KESTRAdrv_GetDEThresh) },
        { 35, "KESTRAdrv_SetDEThresh", reinterpret_cast<void*>(&KESTRAdrv_SetDEThresh) },
        { 36, "KESTRAdrv_SetCoeffHV", reinterpret_cast<void*>(&KESTRAdrv_SetCoeffHV) },
        { 37, "KESTRAdrv_GetCoeffHV", reinterpret_cast<void*>(&KESTRAdrv_GetCoeffHV) },
        { 38, "KESTRAdrv_SetCoeffDER", reinterpret_cast<void*>(&KESTRAdrv_SetCoeffDER) },
        { 39, "KESTRAdrv_GetCoeffDER", reinterpret_cast<void*>(&KESTRAdrv_GetCoeffDER) },
        { 40, "KESTRAdrv_GetDetBkg", reinterpret_cast<void*>(&KESTRAdrv_GetDetBkg) },
        { 41, "KESTRAdrv_SetDetBkg", reinterpret_cast<void*>(&KESTRAdrv_SetDetBkg) },
        { 42, "KESTRAdrv_GetMeasurementValue", reinterpret_cast<void*>(&KESTRAdrv_GetMeasurementValue) },
        { 43, "KESTRAdrv_IsDrvInit", reinterpret_cast<void*>(&KESTRAdrv_IsDrvInit) },
        { 44, "KESTRAdrv_SetCoeffBeta", reinterpret_cast<void*>(&KESTRAdrv_SetCoeffBeta) },
        { 45, "KESTRAdrv_GetCoeffBeta", reinterpret_cast<void*>(&KESTRAdrv_GetCoeffBeta) },
        { 46, "KESTRAdrv_SetDeviceNumber", reinterpret_cast<void*>(&KESTRAdrv_SetDeviceNumber) },
        { 47, "KESTRAdrv_GetHistory", reinterpret_cast<void*>(&KESTRAdrv_GetHistory) },
        { 48, "KESTRAdrv_GetAlarmInfo", reinterpret_cast<void*>(&KESTRAdrv_GetAlarmInfo) },
        { 49, "KESTRAdrv_GetSearchBeep", reinterpret_cast<void*>(&KESTRAdrv_GetSearchBeep) },
        { 50, "KESTRAdrv_SetSearchBeep", reinterpret_cast<void*>(&KESTRAdrv_SetSearchBeep) },
        { 51, "KESTRAdrv_SetCoeffAlpha", reinterpret_cast<void*>(&KESTRAdrv_SetCoeffAlpha) },
        { 52, "KESTRAdrv_GetCoeffAlpha", reinterpret_cast<void*>(&KESTRAdrv_GetCoeffAlpha) },
        { 53, "KESTRAdrv_GetBetaThresh", reinterpret_cast<void*>(&KESTRAdrv_GetBetaThresh) },
        { 54, "KESTRAdrv_SetBetaThresh", reinterpret_cast<void*>(&KESTRAdrv_SetBetaThresh) },
        { 55, "KESTRAdrv_GetSearchBetaThr", reinterpret_cast<void*>(&KESTRAdrv_GetSearchBetaThr) },
        { 56, "KESTRAdrv_SetSearchBetaThr", reinterpret_cast<void*>(&KESTRAdrv_SetSearchBetaThr) },
        { 57, "KESTRAdrv_GetDeviceMenu", reinterpret_cast<void*>(&KESTRAdrv_GetDeviceMenu) },
        { 58, "KESTRAdrv_SetDeviceMenu", reinterpret_cast<void*>(&KESTRAdrv_SetDeviceMenu) },
        { 59, "KESTRAdrv_WriteDeviceProg", reinterpret_cast<void*>(&KESTRAdrv_WriteDeviceProg) },
        { 60, "KESTRAdrv_GetCmdCRC", reinterpret_cast<void*>(&KESTRAdrv_GetCmdCRC) },
    };
    return table;
}

} // namespace kestra
