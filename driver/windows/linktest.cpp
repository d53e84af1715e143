// Binds KESTRAdrv.dll at load time through its import library KESTRAdrv.lib and the header's
// declarations, as a program built against the driver does. Exit status 0 when the calls work.
#include <KESTRAdrv.h>

#include <cstdio>

int main()
{
    int failed = 0;
    if (KESTRAdrv_GetCmdCRC(reinterpret_cast<const uint8_t*>("123456789"), 9) != 0x906E) {
        std::printf("FAILED: CRC through the import library\n");
        ++failed;
    }
    if (KESTRAdrv_IsDrvInit() != 0 || KESTRAdrv_Close() != 1) {
        std::printf("FAILED: lifecycle through the import library\n");
        ++failed;
    }
    // A port name that cannot be opened: refused without a log (no log directory given).
    if (KESTRAdrv_Init(nullptr, L"\\\\.\\COM250", 115200) != 0 || KESTRAdrv_IsDrvInit() != 0) {
        std::printf("FAILED: a missing port is refused\n");
        ++failed;
    }
    std::printf("link test: %s\n", failed ? "failed" : "passed");
    return failed ? 1 : 0;
}
