#include "exports.h"

#include "commands.h"
#include "crc.h"
#include "frame.h"
#ifdef _WIN32
#include "win32_transport.h"
#else
#include "posix_transport.h"
#endif
#include "text.h"

#include "kestracommon/utf.h"

#include <cstddef>

static_assert(sizeof(SYSTEMTIME) == 16);
static_assert(sizeof(KESTRAdrv_WChar) == sizeof(char16_t));
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
#ifdef _WIN32
    static Driver driver(std::make_unique<Win32Transport>());
#else
    static Driver driver(std::make_unique<PosixTransport>());
#endif
    return driver;
}

namespace {

// PC-side text is UTF-16 on both platforms; only its C type differs (wchar_t on Windows), so the
// Windows build copies it unit by unit rather than reading one type through the other.
std::string toUtf8(const KESTRAdrv_WChar* text, std::size_t maxUnits, std::size_t maxBytes)
{
#ifdef _WIN32
    if (!text)
        return {};
    // A character of one or two units takes at least as many bytes: more units cannot fit.
    std::size_t limit = maxBytes < maxUnits ? maxBytes + 1 : maxUnits;
    std::u16string units;
    for (std::size_t i = 0; i < limit && text[i]; ++i)
        units.push_back(static_cast<char16_t>(text[i]));
    return common::utf16ToUtf8(units.c_str(), units.size(), maxBytes);
#else
    return common::utf16ToUtf8(text, maxUnits, maxBytes);
#endif
}

void toWide(std::string_view text, KESTRAdrv_WChar* buffer)
{
#ifdef _WIN32
    if (!buffer)
        return;
    char16_t units[KESTRADRV_TEXT_SIZE];
    common::utf8ToUtf16(text, units, KESTRADRV_TEXT_SIZE);
    for (std::size_t i = 0; i < KESTRADRV_TEXT_SIZE; ++i) {
        buffer[i] = static_cast<KESTRAdrv_WChar>(units[i]);
        if (units[i] == 0)
            break;
    }
#else
    common::utf8ToUtf16(text, buffer, KESTRADRV_TEXT_SIZE);
#endif
}

} // namespace

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

uint8_t KESTRAdrv_Init(const KESTRAdrv_WChar* logDir, const KESTRAdrv_WChar* portName, int32_t baudRate)
{
    return kestra::guarded("KESTRAdrv_Init", uint8_t(0), [&] {
        return kestra::instance().init(
            kestra::toUtf8(logDir, 4096, 4096), kestra::toUtf8(portName, 4096, 4096), baudRate);
    });
}

uint8_t KESTRAdrv_Close(void)
{
    return kestra::guarded("KESTRAdrv_Close", uint8_t(0), [&] {
        kestra::instance().close();
        return 1;
    });
}

uint8_t KESTRAdrv_FindDevice(KESTRAdrv_WChar* fullId, KESTRAdrv_WChar* number)
{
    return kestra::guarded("KESTRAdrv_FindDevice", uint8_t(0), [&] {
        std::string full, alone;
        if (!kestra::instance().getId(&full, &alone))
            return 0;
        kestra::toWide(full, fullId);
        kestra::toWide(alone, number);
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

uint8_t KESTRAdrv_SetDeviceNumber(const KESTRAdrv_WChar* number)
{
    return kestra::guarded("KESTRAdrv_SetDeviceNumber", uint8_t(0), [&] {
        std::string text = kestra::toUtf8(number, SIZE_MAX, kestra::maxNumberLength);
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
#define KESTRADRV_EXPORT(ordinal, name) { ordinal, #name, reinterpret_cast<void*>(&name) },
#include "export_list.inc"
#undef KESTRADRV_EXPORT
    };
    return table;
}

} // namespace kestra
