#include "status.h"

#include <cerrno>

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

} // namespace kestra
