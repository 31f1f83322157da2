#pragma once
// The kernel's receive time stamp of a message read with recvmsg() from a
// socket with SO_TIMESTAMPNS on: nanoseconds since the epoch (wall clock),
// 0 when the message carries none. Shared by the echo helper and Tarvok's
// own datagram sockets.

#include <cstdint>
#include <cstring>
#include <ctime>
#include <sys/socket.h>

namespace tarvok::helper {

inline int64_t receiveTimeNs(msghdr& msg)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec t;
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
        }
    }
    return 0;
}

} // namespace tarvok::helper
