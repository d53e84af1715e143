#include "status.h"

#include <cerrno>
#include <cstring>

namespace kestra {

Status statusFromErrno(int error)
{
    switch (error) {
    case 0:
        return Status::Ok;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return Status::NoDevice;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return Status::NoAccess;
    case EINVAL:
        return Status::BadArgument;
    case ETIMEDOUT:
        return Status::Timeout;
    default:
        return Status::Io;
    }
}

const char* statusText(Status status)
{
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::Timeout:
        return "timeout";
    case Status::Protocol:
        return "protocol";
    case Status::NoDevice:
        return "no device";
    case Status::NoAccess:
        return "no access";
    case Status::Io:
        return "I/O error";
    case Status::BadArgument:
        return "bad argument";
    }
    return "unknown";
}

std::string errnoText(int error)
{
    char buffer[256] = {};
#ifdef _WIN32
    return strerror_s(buffer, sizeof buffer, error) == 0 ? buffer : "errno " + std::to_string(error);
#else
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text ? text : "errno " + std::to_string(error);
#endif
}

} // namespace kestra
