#include "base/Privileges.h"

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tarvok {

namespace {

bool fail(QString* error, const char* what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(QLatin1StringView(what), QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool readCapabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3])
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    return ::syscall(SYS_capget, &header, data) == 0;
}

} // namespace

bool holdsCapabilities()
{
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
    if (!readCapabilities(data))
        return true; // cannot tell: assume the worst
    for (const auto& d : data)
        if (d.effective || d.permitted)
            return true;
    for (int cap = 0; cap <= CAP_LAST_CAP; ++cap)
        if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0) == 1)
            return true;
    return false;
}

bool dropPrivileges(QString* error)
{
    if (::getuid() == 0)
        return true; // started by root: root's rights are the operator's choice

    // Set-ID files: back to the real group and user, in that order (the
    // group cannot be changed any more once the user is).
    const gid_t gid = ::getgid();
    if (::getegid() != gid && ::setresgid(gid, gid, gid) != 0)
        return fail(error, "setresgid");
    const uid_t uid = ::getuid();
    if (::geteuid() != uid && ::setresuid(uid, uid, uid) != 0)
        return fail(error, "setresuid");

    // Ambient capabilities would pass to every program started later.
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return fail(error, "PR_CAP_AMBIENT_CLEAR_ALL");
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] {};
    if (::syscall(SYS_capset, &header, none) != 0)
        return fail(error, "capset");
    if (holdsCapabilities()) {
        errno = EPERM;
        return fail(error, "capabilities remain");
    }
    return true;
}

} // namespace tarvok
