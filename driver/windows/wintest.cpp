// Binds KESTRAdrv.dll the way existing Windows programs do, by ordinal, and runs it against an
// instrument (the simulator behind a COM port of Wine's prefix in make test).
//
//   kestradrv-wintest DLL PORT OTHER_PORT LOG_DIR NUMBER HISTORY_FILE
//
// PORT and OTHER_PORT reach the same instrument (OTHER_PORT is named COM10 or above, so that it
// is opened through "\\.\"); NUMBER is the instrument's number; the downloaded history is
// written to HISTORY_FILE in the form of "kestractl --raw history" so that it can be compared
// with what the Linux driver reads. Exit status 0 when every check passed.
#include <KESTRAdrv.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

int g_passed = 0;
int g_failed = 0;

void check(bool ok, const char* what, const std::string& detail = {})
{
    (ok ? g_passed : g_failed)++;
    if (!ok)
        std::printf("FAILED: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
}

HMODULE g_dll = nullptr;

// Every call below goes through this: the ordinal is the interface, the header only gives the
// function's type.
template <typename Function> Function byOrdinal(int ordinal)
{
    FARPROC address = GetProcAddress(g_dll, MAKEINTRESOURCEA(ordinal));
    if (!address) {
        std::printf("FAILED: ordinal %d does not resolve\n", ordinal);
        std::exit(1);
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

#define BIND(ordinal, name) const auto name = byOrdinal<decltype(&::name)>(ordinal)

std::string narrow(const wchar_t* text)
{
    std::string out;
    for (; *text; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

struct ExportName {
    int ordinal;
    const char* name;
};

constexpr ExportName exportList[] = {
#define KESTRADRV_EXPORT(ordinal, name) { ordinal, #name },
#include "export_list.inc"
#undef KESTRADRV_EXPORT
};

// The DLL's export directory must hold exactly the interface: every name at its ordinal, every
// ordinal found by name and by number alike, nothing at ordinal 1 or beyond the last, and no
// other name (no runtime or C++ symbol leaking out).
void checkExports()
{
    for (const ExportName& e : exportList) {
        FARPROC byNumber = GetProcAddress(g_dll, MAKEINTRESOURCEA(e.ordinal));
        FARPROC byName = GetProcAddress(g_dll, e.name);
        check(byNumber && byNumber == byName, "ordinal resolves to the export of its name",
            std::to_string(e.ordinal) + " " + e.name);
    }
    check(!GetProcAddress(g_dll, MAKEINTRESOURCEA(1)), "nothing at ordinal 1");
    check(!GetProcAddress(g_dll, MAKEINTRESOURCEA(61)), "nothing after ordinal 60");

    auto base = reinterpret_cast<const unsigned char*>(g_dll);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    check(exports->NumberOfNames == std::size(exportList), "59 exported names", std::to_string(exports->NumberOfNames));
    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    auto ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    std::set<std::string> listed;
    for (const ExportName& e : exportList)
        listed.insert(std::to_string(e.ordinal) + " " + e.name);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        std::string entry
            = std::to_string(exports->Base + ordinals[i]) + " " + reinterpret_cast<const char*>(base + names[i]);
        check(listed.count(entry) == 1, "exported name and ordinal are in the interface", entry);
    }
}

// The same text as "kestractl --raw history".
std::string shortest(double value)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    double magnitude = std::fabs(value);
    bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e15);
    char buffer[400];
    auto [end, ec] = plain ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                           : std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string calendar(const SYSTEMTIME& t)
{
    char text[32];
    std::snprintf(
        text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

bool writeHistory(const wchar_t* path, const KESTRAdrv_EventRecord* records, int32_t count)
{
    FILE* out = _wfopen(path, L"wb");
    if (!out)
        return false;
    std::fputs("time\ttype\tvalue1\tvalue2\tparam1\tparam2\n", out);
    for (int32_t i = 0; i < count; ++i) {
        const KESTRAdrv_EventRecord& r = records[i];
        std::string type = r.type >= 0x20 && r.type < 0x7F ? std::string(1, r.type) : "?";
        std::string line = calendar(r.time) + "\t" + type + "\t" + shortest(r.value1) + "\t" + shortest(r.value2) + "\t"
            + std::to_string(r.param1) + "\t" + std::to_string(r.param2) + "\n";
        std::fputs(line.c_str(), out);
    }
    return std::fclose(out) == 0;
}

int64_t fileTimeSeconds(const SYSTEMTIME& t)
{
    FILETIME file {};
    if (!SystemTimeToFileTime(&t, &file))
        return 0;
    return static_cast<int64_t>((static_cast<uint64_t>(file.dwHighDateTime) << 32 | file.dwLowDateTime) / 10000000);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 7) {
        std::printf("usage: kestradrv-wintest DLL PORT OTHER_PORT LOG_DIR NUMBER HISTORY_FILE\n");
        return 2;
    }
    const wchar_t* port = argv[2];
    const wchar_t* otherPort = argv[3];
    const wchar_t* logDir = argv[4];
    std::string number = narrow(argv[5]);

    // A crash ends the program with its code instead of starting a debugger.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    g_dll = LoadLibraryW(argv[1]);
    if (!g_dll) {
        std::printf("FAILED: cannot load %s (error %lu)\n", narrow(argv[1]).c_str(), GetLastError());
        return 1;
    }
    checkExports();
    if (g_failed > 0) {
        // Calling through a wrong ordinal would pass arguments of another function's type.
        std::printf("%d checks passed, %d failed\n", g_passed, g_failed);
        return 1;
    }

    BIND(2, KESTRAdrv_Init);
    BIND(3, KESTRAdrv_Close);
    BIND(4, KESTRAdrv_FindDevice);
    BIND(5, KESTRAdrv_GetDeviceMode);
    BIND(9, KESTRAdrv_GetSound);
    BIND(10, KESTRAdrv_SetSound);
    BIND(13, KESTRAdrv_GetBattery);
    BIND(14, KESTRAdrv_GetDose);
    BIND(21, KESTRAdrv_GetHistTime);
    BIND(22, KESTRAdrv_SetHistTime);
    BIND(26, KESTRAdrv_GetDeviceTime);
    BIND(27, KESTRAdrv_SetDeviceTime);
    BIND(32, KESTRAdrv_GetDERThresh);
    BIND(33, KESTRAdrv_SetDERThresh);
    BIND(42, KESTRAdrv_GetMeasurementValue);
    BIND(43, KESTRAdrv_IsDrvInit);
    BIND(47, KESTRAdrv_GetHistory);
    BIND(48, KESTRAdrv_GetAlarmInfo);
    BIND(60, KESTRAdrv_GetCmdCRC);

    // Lifecycle and the calls that need no instrument.
    check(KESTRAdrv_IsDrvInit() == 0, "not open before Init");
    check(KESTRAdrv_GetCmdCRC(reinterpret_cast<const uint8_t*>("123456789"), 9) == 0x906E, "CRC of 123456789");
    check(KESTRAdrv_Init(logDir, port, 115200) == 1, "Init opens the port", narrow(port));
    check(KESTRAdrv_IsDrvInit() == 1, "open after Init");

    // Identity: the full identifier and the number, as wide text.
    wchar_t fullId[KESTRADRV_TEXT_SIZE] = {};
    wchar_t alone[KESTRADRV_TEXT_SIZE] = {};
    check(KESTRAdrv_FindDevice(fullId, alone) == 1, "FindDevice");
    check(narrow(fullId) == "KESTRA #" + number, "full identifier", narrow(fullId));
    check(narrow(alone) == number, "number", narrow(alone));
    std::printf("identity: %s\n", narrow(fullId).c_str());

    // History, before any setting changes add a record to it.
    int32_t count = -1;
    KESTRAdrv_EventRecord* records = nullptr;
    check(KESTRAdrv_GetHistory(&count, &records) == 1, "GetHistory");
    check(count > 0 && records, "history has records", std::to_string(count));
    check(writeHistory(argv[6], records, count), "history written");
    std::printf("history: %d records\n", static_cast<int>(count));

    // Reading.
    int32_t mode = -1, precision = -1, battery = -1, seconds = -1, dose = -1;
    double value = -1, rate = -1;
    uint16_t alarm = 0xFFFF;
    uint8_t status = 0xFF;
    check(KESTRAdrv_GetMeasurementValue(&mode, &value, &precision, &alarm, &status) == 1, "GetMeasurementValue");
    check(mode >= 0 && mode <= 8 && value >= 0 && precision >= 0 && precision <= 99, "reading in range",
        std::to_string(mode) + " " + shortest(value) + " " + std::to_string(precision));
    check(KESTRAdrv_GetDeviceMode(&mode) == 1 && mode == 3, "gamma mode", std::to_string(mode));
    check(KESTRAdrv_GetDose(&rate, &seconds, &dose) == 1 && rate >= 0 && seconds >= 0, "GetDose");
    check(KESTRAdrv_GetBattery(&battery) == 1 && battery > 0, "GetBattery", std::to_string(battery));
    check(KESTRAdrv_GetAlarmInfo(&alarm) == 0, "GetAlarmInfo");
    std::printf("reading: mode %d, %s e-8 Sv/h, %d %%\n", static_cast<int>(mode), shortest(value).c_str(),
        static_cast<int>(precision));

    // Settings: each changed, read back, and put back.
    uint8_t sound = 2, soundAfter = 2;
    check(KESTRAdrv_GetSound(&sound) == 1 && sound <= 1, "GetSound");
    check(KESTRAdrv_SetSound(!sound) == 1, "SetSound");
    check(KESTRAdrv_GetSound(&soundAfter) == 1 && soundAfter == !sound, "sound changed");
    check(KESTRAdrv_SetSound(sound) == 1, "sound put back");
    int32_t threshold = -1, thresholdAfter = -1;
    check(KESTRAdrv_GetDERThresh(1, &threshold) == 1 && threshold > 0, "GetDERThresh", std::to_string(threshold));
    check(KESTRAdrv_SetDERThresh(1, threshold + 2500) == 1, "SetDERThresh");
    check(KESTRAdrv_GetDERThresh(1, &thresholdAfter) == 1 && thresholdAfter == threshold + 2500, "threshold changed",
        std::to_string(thresholdAfter));
    check(KESTRAdrv_SetDERThresh(1, threshold) == 1, "threshold put back");
    check(KESTRAdrv_GetDERThresh(3, &thresholdAfter) == 0, "level 3 refused");
    uint16_t interval = 0, intervalAfter = 0;
    check(KESTRAdrv_GetHistTime(&interval) == 1 && interval > 0, "GetHistTime");
    check(KESTRAdrv_SetHistTime(interval == 120 ? 180 : 120) == 1, "SetHistTime");
    check(KESTRAdrv_GetHistTime(&intervalAfter) == 1 && intervalAfter == (interval == 120 ? 180 : 120),
        "interval changed", std::to_string(intervalAfter));
    check(KESTRAdrv_SetHistTime(interval) == 1, "interval put back");

    // The clock: set to this computer's local time, read back as the platform's SYSTEMTIME.
    SYSTEMTIME clock {};
    check(KESTRAdrv_SetDeviceTime() == 1, "SetDeviceTime");
    check(KESTRAdrv_GetDeviceTime(&clock) == 1, "GetDeviceTime");
    SYSTEMTIME local {};
    GetLocalTime(&local);
    int64_t apart = fileTimeSeconds(local) - fileTimeSeconds(clock);
    check(clock.wYear >= 2020 && apart >= -2 && apart <= 5, "instrument clock is the local time",
        calendar(clock) + " vs " + calendar(local));

    // A new number, given as wide text, addresses the instrument from then on; then the old one.
    BIND(46, KESTRAdrv_SetDeviceNumber);
    check(KESTRAdrv_SetDeviceNumber(L"314159") == 1, "SetDeviceNumber");
    check(KESTRAdrv_FindDevice(nullptr, alone) == 1 && narrow(alone) == "314159", "new number", narrow(alone));
    std::wstring oldNumber(argv[5]);
    check(KESTRAdrv_SetDeviceNumber(oldNumber.c_str()) == 1, "number put back");

    // Init again on a name that needs "\\.\": the same instrument through another COM name.
    check(KESTRAdrv_Init(logDir, otherPort, 115200) == 1, "Init on the second name", narrow(otherPort));
    check(KESTRAdrv_FindDevice(fullId, nullptr) == 1 && narrow(fullId) == "KESTRA #" + number,
        "FindDevice on the second name");
    check(KESTRAdrv_Close() == 1, "Close");
    check(KESTRAdrv_IsDrvInit() == 0, "closed after Close");
    // A port that is not there: refused, and the driver stays closed. Its log goes to a folder
    // whose name is not ASCII, which reaches the file system only when the wide text survives
    // the driver's round trip through UTF-8.
    std::wstring otherLogDir = std::wstring(logDir) + L"\\Protokoll-\u00e4\u00df\u6e2c";
    check(CreateDirectoryW(otherLogDir.c_str(), nullptr) != 0, "log folder made");
    check(KESTRAdrv_Init(otherLogDir.c_str(), L"COM9", 115200) == 0, "Init on a missing port fails");
    check(KESTRAdrv_IsDrvInit() == 0, "closed after a failed Init");
    check(GetFileAttributesW((otherLogDir + L"\\KESTRAdrv.log").c_str()) != INVALID_FILE_ATTRIBUTES,
        "log written in the folder of the wide name");

    FreeLibrary(g_dll);
    std::printf("%d checks passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
