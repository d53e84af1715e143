#pragma once

#include <string>

namespace kestra::ctl {

/// What we know about a device that the user may not open.
struct AccessDenied {
    std::string path;
    std::string user; // login name of the real user
    std::string owner; // device owner
    std::string group; // device group, by name (or number when it has none)
    unsigned mode = 0; // permission bits
    bool inGroupDatabase = false; // the group database lists the user as a member
    bool inSession = false; // the running process already carries the group
};

/// The explanation for a technician, with the command that fixes it where one does.
std::string accessDeniedMessage(const AccessDenied& denied);

struct PortCheck {
    bool ok = false;
    std::string message; // why the port cannot be used (empty when ok)
};

/// Looks at a device path before the driver opens it, so that a missing device or missing
/// rights get a precise message instead of the driver's bare failure.
PortCheck checkPort(const std::string& path);

} // namespace kestra::ctl
