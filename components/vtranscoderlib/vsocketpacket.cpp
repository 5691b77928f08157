#include "components/vtranscoderlib/vsocketpacket.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t k_controlSpace = CMSG_SPACE(sizeof(int) * CVSocketPacket::k_maxDescriptors);

bool WaitReadable(int socket, std::chrono::milliseconds timeout) {
    pollfd entry{socket, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int wait = -1;
        if (timeout.count() >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        int ready = poll(&entry, 1, wait);
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// Takes over every descriptor of SCM_RIGHTS messages in the control data.
std::vector<qsys::UniqueFd> TakeDescriptors(msghdr& header) {
    std::vector<qsys::UniqueFd> descriptors;
    for (cmsghdr* entry = CMSG_FIRSTHDR(&header); entry; entry = CMSG_NXTHDR(&header, entry)) {
        if (entry->cmsg_level != SOL_SOCKET || entry->cmsg_type != SCM_RIGHTS) {
            continue;
        }
        size_t count = (entry->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            memcpy(&fd, CMSG_DATA(entry) + i * sizeof(int), sizeof fd);
            descriptors.emplace_back(fd);
        }
    }
    return descriptors;
}

}  // namespace

bool CVSocketPacket::Send(int socket, std::string_view bytes, const std::vector<int>& descriptors) {
    if (descriptors.size() > k_maxDescriptors) {
        errno = EINVAL;
        return false;
    }
    iovec data{const_cast<char*>(bytes.data()), bytes.size()};
    alignas(cmsghdr) char control[k_controlSpace] = {};
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    if (!descriptors.empty()) {
        header.msg_control = control;
        header.msg_controllen = CMSG_SPACE(sizeof(int) * descriptors.size());
        cmsghdr* entry = CMSG_FIRSTHDR(&header);
        entry->cmsg_level = SOL_SOCKET;
        entry->cmsg_type = SCM_RIGHTS;
        entry->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
        memcpy(CMSG_DATA(entry), descriptors.data(), sizeof(int) * descriptors.size());
    }
    ssize_t sent;
    do {
        sent = sendmsg(socket, &header, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(bytes.size());
}

std::optional<SVSocketPacket> CVSocketPacket::Receive(int socket, size_t maxBytes,
                                                      std::chrono::milliseconds timeout) {
    if (!WaitReadable(socket, timeout)) {
        return std::nullopt;
    }
    SVSocketPacket packet;
    packet.bytes.resize(maxBytes);
    iovec data{packet.bytes.data(), packet.bytes.size()};
    alignas(cmsghdr) char control[k_controlSpace] = {};
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    packet.descriptors = TakeDescriptors(header);
    if (received <= 0) {
        return std::nullopt;  // the descriptors, if any, are closed
    }
    if ((header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) {
        return SVSocketPacket{{}, {}, true};
    }
    packet.bytes.resize(static_cast<size_t>(received));
    return packet;
}
