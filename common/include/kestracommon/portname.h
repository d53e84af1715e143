#pragma once

#include <string>
#include <string_view>

namespace kestra::common {

/// The device path for a port name as a person or a configuration gives it: "COMn" (any case,
/// n from 1 to 999 without a leading zero) is /dev/ttyS(n-1) so that names copied from another
/// platform still mean something, a bare name lives under /dev, and anything with a '/' is a
/// path. `deviceRoot` stands for /dev (tests give another).
std::string portDevicePath(std::string_view name, std::string_view deviceRoot = "/dev");

} // namespace kestra::common
