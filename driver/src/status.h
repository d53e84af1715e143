#pragma once

#include <string>

namespace kestra {

/// Why a driver operation failed. Only the log sees it; the C interface reports a boolean.
enum class Status { Ok, Timeout, Protocol, NoDevice, NoAccess, Io, BadArgument };

/// Maps an errno value to a status; the one place where errno is interpreted.
Status statusFromErrno(int error);

const char* statusText(Status status);

/// The system's text for an errno value, for the log ("Permission denied").
std::string errnoText(int error);

} // namespace kestra
