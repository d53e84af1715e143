#pragma once

#include <string>
#include <string_view>

namespace kestra::common {

/// The device path for a port name as a person or a configuration gives it: "COMn" (n from 1
/// to 999, upper or lower case) is /dev/ttyS(n-1) so that names copied from another platform
/// still mean something, a bare name lives under /dev, and anything with a '/' is a path.
std::string portDevicePath(std::string_view name);

} // namespace kestra::common
