#pragma once

namespace kestra {

/// Why a driver operation failed. Only the log sees it; the C interface reports a boolean.
enum class Status { Ok, Timeout, Protocol, NoDevice, NoAccess, Io, BadArgument };

/// Maps an errno value to a status; the one place where errno is interpreted.
Status statusFromErrno(int error);

const char* statusText(Status status);

} // namespace kestra
