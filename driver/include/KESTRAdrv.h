/*
 * KESTRAdrv: driver library for the KESTRA pocket gamma/beta dosimeter.
 *
 * One serial connection to one instrument at a time. Every function may be called from any
 * thread; each exchange with the instrument runs under the library's port lock. Functions that
 * talk to the instrument first learn its number when it is not known yet (a hidden "get_ID").
 *
 * Conventions:
 *  - booleans are uint8_t, 1 = true/success, 0 = false/failure;
 *  - texts naming things on the PC side are UTF-16, NUL-terminated (KESTRAdrv_WChar: char16_t,
 *    wchar_t on Windows); output text buffers hold KESTRADRV_TEXT_SIZE code units;
 *  - dose-rate integers are in 1e-8 Sv/h (0.01 uSv/h), doses in 1e-8 Sv, beta values unscaled;
 *  - outputs are written only on success unless a function says otherwise;
 *  - the reason of a failure is written to the driver log (KESTRAdrv.log in the log directory).
 *
 * Every export carries its fixed ordinal (@ordinal). Ordinals 2 to 60 are used; there is no 1.
 */
#ifndef KESTRADRV_H
#define KESTRADRV_H

#include <stdint.h>
#ifdef __cplusplus
#include <cstddef>
#else
#include <stddef.h>
#include <uchar.h>
#endif

#if defined(_WIN32)
#include <windows.h>
/* The DLL's exports and their ordinals come from its module-definition file. */
#ifdef KESTRADRV_BUILDING
#define KESTRADRV_API
#else
#define KESTRADRV_API __declspec(dllimport)
#endif
/** PC-side text: UTF-16 as the platform's wide characters. */
typedef wchar_t KESTRAdrv_WChar;
#else
#define KESTRADRV_API __attribute__((visibility("default")))
/** PC-side text: UTF-16 code units. */
typedef char16_t KESTRAdrv_WChar;
/** Calendar time, the same eight 16-bit fields in the same order as on the desktop platform. */
typedef struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek; /* 0 = Sunday */
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} SYSTEMTIME;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Size in code units (or bytes) of the text buffers that the library fills. */
#define KESTRADRV_TEXT_SIZE 260
/** Size of the menu buffer of KESTRAdrv_GetDeviceMenu; KESTRAdrv_SetDeviceMenu sends 28 bytes. */
#define KESTRADRV_MENU_READ_SIZE 29
#define KESTRADRV_MENU_WRITE_SIZE 28

/** One decoded history event, 48 bytes, owned by the library until the next download. */
typedef struct KESTRAdrv_EventRecord {
    char type; /* the raw record's type character (offset 0) */
    SYSTEMTIME time; /* event time as the instrument's calendar time (offset 2) */
    double value1; /* first value or -1.0 (offset 24) */
    double value2; /* second value or -1.0 (offset 32) */
    int32_t param1; /* first small parameter or -1 (offset 40) */
    int32_t param2; /* second small parameter or -1 (offset 44) */
} KESTRAdrv_EventRecord;

/**
 * @ordinal 2
 * Opens the port and sets the log directory. A second call closes and reopens the port.
 * @param logDir directory of KESTRAdrv.log ("/", on Windows "\\", is added unless it ends in
 *        one); null: no log
 * @param portName device path, a bare name under /dev, or COMn (= /dev/ttyS(n-1)); on Windows
 *        COMn or a device name (\\.\ is put in front of a name longer than four characters)
 * @param baudRate line rate, for example 115200
 * @returns 1 when the port is open and configured
 */
KESTRADRV_API uint8_t KESTRAdrv_Init(const KESTRAdrv_WChar* logDir, const KESTRAdrv_WChar* portName, int32_t baudRate);

/**
 * @ordinal 3
 * Closes the port (pausing 1 s after a real close so the line settles).
 * @returns 1 always
 */
KESTRADRV_API uint8_t KESTRAdrv_Close(void);

/**
 * @ordinal 4
 * Asks the instrument its number ("get_ID") and remembers it for addressing.
 * @param fullId optional out, KESTRADRV_TEXT_SIZE units: "KESTRA #" and the number
 * @param number optional out, KESTRADRV_TEXT_SIZE units: the number alone
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_FindDevice(KESTRAdrv_WChar* fullId, KESTRAdrv_WChar* number);

/**
 * @ordinal 5
 * @param mode out: 0 none, 1 reading history, 2 test, 3 gamma, 4 beta 1, 5 beta 2, 6 survey,
 *        7 background, 8 beta search
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDeviceMode(int32_t* mode);

/**
 * @ordinal 6
 * @param mode 3 (gamma), 4 or 5 (beta), 8 (beta search); any other mode fails without sending
 * @returns 1 when the instrument confirmed the mode
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDeviceMode(int32_t mode);

/**
 * @ordinal 7
 * @param roentgen out: 1 when the instrument shows roentgen units, 0 for sievert
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetMeasUnits(uint8_t* roentgen);

/**
 * @ordinal 8
 * @param roentgen 1 for roentgen units, 0 for sievert
 * @returns 1 when the instrument confirmed
 */
KESTRADRV_API uint8_t KESTRAdrv_SetMeasUnits(uint8_t roentgen);

/**
 * @ordinal 9
 * @param on out: sound on
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetSound(uint8_t* on);

/**
 * @ordinal 10
 * @param on sound on
 * @returns 1 when the instrument confirmed
 */
KESTRADRV_API uint8_t KESTRAdrv_SetSound(uint8_t on);

/**
 * @ordinal 11
 * @param on out: backlight on
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetLight(uint8_t* on);

/**
 * @ordinal 12
 * @param on backlight on
 * @returns 1 when the instrument confirmed
 */
KESTRADRV_API uint8_t KESTRAdrv_SetLight(uint8_t on);

/**
 * @ordinal 13
 * @param value out: battery value as reported, times 10
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetBattery(int32_t* value);

/**
 * @ordinal 14
 * Reads the dose rate, the accumulation time and the accumulated dose; each output is optional.
 * @param rate out: dose rate in 1e-8 Sv/h
 * @param time out: accumulation time as the instrument counts it (seconds)
 * @param dose out: accumulated dose as reported in Sv, times 100
 * @returns 1 on success; 0 when a requested field is missing
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDose(double* rate, int32_t* time, int32_t* dose);

/**
 * @ordinal 15
 * Clears the accumulated dose.
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_ResetDose(void);

/**
 * @ordinal 16
 * @param kind 1 "reset_stat_on", 2 "reset_stat_off", other "reset_stat"
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_ResetStatistic(int32_t kind);

/**
 * @ordinal 17
 * Starts the gamma autocalibration.
 * @param rate reference dose rate in 1e-8 Sv/h
 * @param tolerance tolerance in percent
 * @param precision precision in percent
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetAutocalibration(int32_t rate, int32_t tolerance, int32_t precision);

/**
 * @ordinal 18
 * @param rate out (required): reference dose rate in 1e-8 Sv/h (8000 when the instrument has none)
 * @param tolerance out: percent
 * @param precision out: percent
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetAutocalParams(int32_t* rate, int32_t* tolerance, int32_t* precision);

/**
 * @ordinal 19
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_StopAutocalibration(void);

/**
 * @ordinal 20
 * @param running out: autocalibration running (bit 15 of the alarm word)
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetAutocalibration(uint8_t* running);

/**
 * @ordinal 21
 * @param interval out: history interval in seconds
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetHistTime(uint16_t* interval);

/**
 * @ordinal 22
 * @param interval history interval in seconds; the low 16 bits are sent
 * @returns 1 when the instrument confirmed
 */
KESTRADRV_API uint8_t KESTRAdrv_SetHistTime(int32_t interval);

/**
 * @ordinal 23
 * Empties the instrument's history memory.
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_ClearHistory(void);

/**
 * @ordinal 24
 * @param lock 1 locks the instrument's keys, 0 unlocks
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDeviceLock(uint8_t lock);

/**
 * @ordinal 25
 * @param part detector part number (two digits on the wire)
 * @param text out, KESTRADRV_TEXT_SIZE bytes: the decoded version text, NUL-terminated
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDeviceVersion(int32_t part, char* text);

/**
 * @ordinal 26
 * @param time out: the instrument's clock as calendar time (its own local time)
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDeviceTime(SYSTEMTIME* time);

/**
 * @ordinal 27
 * Sets the instrument's clock to the PC's local time.
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDeviceTime(void);

/**
 * @ordinal 28
 * @param sigma sigma factor (one decimal on the wire)
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetCoeffN(double sigma);

/**
 * @ordinal 29
 * @param sigma out: sigma factor
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetCoeffN(double* sigma);

/**
 * @ordinal 30
 * @param timeout quick-measurement time-out; the low 16 bits are sent
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetQMTimeOut(int32_t timeout);

/**
 * @ordinal 31
 * @param timeout out: quick-measurement time-out
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetQMTimeOut(uint16_t* timeout);

/**
 * @ordinal 32
 * @param level 1 or 2
 * @param threshold out: dose-rate threshold in 1e-8 Sv/h
 * @returns 1 on success; 0 for another level
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDERThresh(int32_t level, int32_t* threshold);

/**
 * @ordinal 33
 * @param level 1 or 2
 * @param threshold dose-rate threshold in 1e-8 Sv/h
 * @returns 1 on success; 0 for another level
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDERThresh(int32_t level, int32_t threshold);

/**
 * @ordinal 34
 * @param threshold out: dose threshold in 1e-8 Sv
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDEThresh(double* threshold);

/**
 * @ordinal 35
 * @param threshold dose threshold in 1e-8 Sv
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDEThresh(double threshold);

/**
 * @ordinal 36
 * @param code detector high-voltage code
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetCoeffHV(int32_t code);

/**
 * @ordinal 37
 * Refreshes the detector parameters, then reads the high-voltage code.
 * @param code out: high-voltage code
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetCoeffHV(int32_t* code);

/**
 * @ordinal 38
 * @param coefficient gamma dose-rate coefficient
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetCoeffDER(double coefficient);

/**
 * @ordinal 39
 * @param coefficient out: gamma dose-rate coefficient
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetCoeffDER(double* coefficient);

/**
 * @ordinal 40
 * @param background out: the detector's own background in 1e-8 Sv/h
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDetBkg(double* background);

/**
 * @ordinal 41
 * @param background the detector's own background in 1e-8 Sv/h
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDetBkg(double background);

/**
 * @ordinal 42
 * Reads the current reading.
 * @param mode out (required): device mode as for KESTRAdrv_GetDeviceMode (test mode reads as 1)
 * @param value out (required): 1e-8 Sv/h in gamma mode, CPS or CPM/cm2 in beta modes
 * @param precision out (required): statistical precision in percent (99 when there is no reading)
 * @param alarm optional out: alarm word (0 when the instrument sends none)
 * @param status optional out: status byte of beta readings (3 when the instrument sends none)
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetMeasurementValue(
    int32_t* mode, double* value, int32_t* precision, uint16_t* alarm, uint8_t* status);

/**
 * @ordinal 43
 * @returns 1 when the port is open
 */
KESTRADRV_API uint8_t KESTRAdrv_IsDrvInit(void);

/**
 * @ordinal 44
 * @param coefficient beta coefficient
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetCoeffBeta(int32_t coefficient);

/**
 * @ordinal 45
 * @param coefficient out: beta coefficient
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetCoeffBeta(int32_t* coefficient);

/**
 * @ordinal 46
 * Gives the instrument a new number and addresses it by the number it then reports.
 * @param number new number, or null to send "nonumber"
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDeviceNumber(const KESTRAdrv_WChar* number);

/**
 * @ordinal 47
 * Downloads and decodes the instrument's history. The array belongs to the library and stays
 * valid until the next call of this function.
 * @param count out: number of records (0 at the start and on failure)
 * @param records out: first record, or null when there is none
 * @returns 1 on success (also with no record)
 */
KESTRADRV_API uint8_t KESTRAdrv_GetHistory(int32_t* count, KESTRAdrv_EventRecord** records);

/**
 * @ordinal 48
 * @param alarm out: alarm word
 * @returns 0 read (also for a null output, without exchange), 1 no alarm field, -1 exchange failed
 */
KESTRADRV_API int32_t KESTRAdrv_GetAlarmInfo(uint16_t* alarm);

/**
 * @ordinal 49
 * @param on out: search beep on
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetSearchBeep(uint8_t* on);

/**
 * @ordinal 50
 * @param on search beep on
 * @returns 1 when the instrument confirmed
 */
KESTRADRV_API uint8_t KESTRAdrv_SetSearchBeep(uint8_t on);

/**
 * @ordinal 51
 * @param coefficient alpha coefficient
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetCoeffAlpha(int32_t coefficient);

/**
 * @ordinal 52
 * @param coefficient out: alpha coefficient
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetCoeffAlpha(int32_t* coefficient);

/**
 * @ordinal 53
 * @param level 1 or 2
 * @param threshold out: beta threshold in CPM/cm2
 * @returns 1 on success; 0 for another level
 */
KESTRADRV_API uint8_t KESTRAdrv_GetBetaThresh(int32_t level, int32_t* threshold);

/**
 * @ordinal 54
 * @param level 1 or 2
 * @param threshold beta threshold in CPM/cm2
 * @returns 1 on success; 0 for another level
 */
KESTRADRV_API uint8_t KESTRAdrv_SetBetaThresh(int32_t level, int32_t threshold);

/**
 * @ordinal 55
 * @param threshold out: beta search threshold in CPS
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetSearchBetaThr(double* threshold);

/**
 * @ordinal 56
 * @param threshold beta search threshold in CPS
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetSearchBetaThr(double threshold);

/**
 * @ordinal 57
 * @param menu out, KESTRADRV_MENU_READ_SIZE bytes: the instrument's menu bytes, zero-filled
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_GetDeviceMenu(uint8_t* menu);

/**
 * @ordinal 58
 * @param menu KESTRADRV_MENU_WRITE_SIZE bytes to send
 * @returns 1 on success
 */
KESTRADRV_API uint8_t KESTRAdrv_SetDeviceMenu(const uint8_t* menu);

/**
 * @ordinal 59
 * Loads new firmware: gamma mode, key lock, version check, 256-byte packets, "start_loading".
 * @param image firmware bytes (may be null when length is 0)
 * @param length number of bytes
 * @returns 1 when the instrument accepted the image and started loading it
 */
KESTRADRV_API uint8_t KESTRAdrv_WriteDeviceProg(const uint8_t* image, int32_t length);

/**
 * @ordinal 60
 * @param data bytes
 * @param length number of bytes (0 or less: none)
 * @returns the CRC-16/X-25 checksum the instrument uses (0 after an internal error, which the
 *          driver log then names)
 */
KESTRADRV_API uint16_t KESTRAdrv_GetCmdCRC(const uint8_t* data, int32_t length);

#ifdef __cplusplus
}
#endif

#endif /* KESTRADRV_H */
