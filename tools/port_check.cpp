#include "port_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestra::ctl {

namespace {

std::string userName(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

std::string groupName(gid_t gid)
{
    std::vector<char> buffer(65536);
    group entry {};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

bool sessionHasGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    count = getgroups(count, groups.data());
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

bool databaseHasGroup(const std::string& user, gid_t primary, gid_t gid)
{
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(user.c_str(), primary, groups.data(), &count) == -1) {
        if (count <= 0 || count > 65536)
            return false;
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user.c_str(), primary, groups.data(), &count) == -1)
            return false;
    }
    for (int i = 0; i < count; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid)
            return true;
    return false;
}

std::string octal(unsigned mode)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04o", mode & 07777u);
    return buffer;
}

} // namespace

std::string accessDeniedMessage(const AccessDenied& d)
{
    std::string head = "permission denied: user '" + d.user + "' may not open " + d.path + " (owner " + d.owner
        + ", group " + d.group + ", mode " + octal(d.mode) + ").\n";
    bool groupMayUse = (d.mode & 060) == 060;
    if (!groupMayUse)
        return head
            + "The device gives its group no read and write access, so joining the group does not help; "
              "serial ports are normally read-write for their group (typically 'dialout').\n";
    if (d.inSession)
        return head + "You are a member of group '" + d.group + "' but the device still refuses access.\n";
    if (d.inGroupDatabase)
        return head + "You are a member of group '" + d.group
            + "', but this login session started before you joined it: log out and in again (or run 'newgrp " + d.group
            + "').\n";
    std::string typically = d.group == "dialout" ? "" : " (typically 'dialout')";
    return head + "To use serial ports you must be a member of the group that owns the device, here '" + d.group + "'"
        + typically + ":\n    sudo usermod -aG " + d.group
        + " $USER\nthen log out and in again so that the new group membership takes effect.\n";
}

PortCheck checkPort(const std::string& path)
{
    PortCheck result;
    struct stat info { };
    if (stat(path.c_str(), &info) != 0) {
        int error = errno;
        if (error == ENOENT)
            result.message = "port " + path + " does not exist\n";
        else
            result.message = "cannot look at port " + path + ": " + std::strerror(error) + "\n";
        return result;
    }
    if (S_ISDIR(info.st_mode)) {
        result.message = "port " + path + " is a directory, not a serial device\n";
        return result;
    }
    // O_NONBLOCK: a tty without CLOCAL would otherwise wait here for carrier.
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        if (error == EACCES || error == EPERM) {
            AccessDenied denied;
            denied.path = path;
            denied.user = userName(getuid());
            denied.owner = userName(info.st_uid);
            denied.group = groupName(info.st_gid);
            denied.mode = info.st_mode;
            denied.inSession = sessionHasGroup(info.st_gid);
            passwd* self = getpwuid(getuid());
            denied.inGroupDatabase = self && databaseHasGroup(denied.user, self->pw_gid, info.st_gid);
            result.message = accessDeniedMessage(denied);
        } else if (error == EBUSY) {
            result.message = "port " + path + " is busy: another program holds it open\n";
        } else {
            result.message = "cannot open port " + path + ": " + std::strerror(error) + "\n";
        }
        return result;
    }
    bool terminal = isatty(fd);
    close(fd);
    if (!terminal) {
        result.message = "port " + path + " is not a serial device (not a terminal)\n";
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace kestra::ctl
