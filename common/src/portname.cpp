#include "kestracommon/portname.h"

namespace kestra::common {

std::string portDevicePath(std::string_view name)
{
    if (name.size() > 3 && name.size() <= 6 && (name.starts_with("COM") || name.starts_with("com"))) {
        std::string_view digits = name.substr(3);
        unsigned n = 0;
        for (char c : digits)
            n = (c >= '0' && c <= '9' && n < 1000) ? n * 10 + static_cast<unsigned>(c - '0') : 100000;
        if (n >= 1 && n <= 999)
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    if (!name.empty() && name.find('/') == std::string_view::npos)
        return "/dev/" + std::string(name);
    return std::string(name);
}

} // namespace kestra::common
