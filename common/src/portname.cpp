#include "kestracommon/portname.h"

namespace kestra::common {

std::string portDevicePath(std::string_view name, std::string_view deviceRoot)
{
    // "COM" in any case, then 1 to 999 without a leading zero.
    auto isCom = [](std::string_view prefix) {
        return prefix.size() == 3 && (prefix[0] | 0x20) == 'c' && (prefix[1] | 0x20) == 'o'
            && (prefix[2] | 0x20) == 'm';
    };
    if (name.size() > 3 && name.size() <= 6 && isCom(name.substr(0, 3)) && name[3] != '0') {
        unsigned n = 0;
        bool digits = true;
        for (char c : name.substr(3)) {
            digits = digits && c >= '0' && c <= '9';
            n = n * 10 + static_cast<unsigned>(c - '0');
        }
        if (digits)
            return std::string(deviceRoot) + "/ttyS" + std::to_string(n - 1);
    }
    if (!name.empty() && name.find('/') == std::string_view::npos)
        return std::string(deviceRoot) + "/" + std::string(name);
    return std::string(name);
}

} // namespace kestra::common
