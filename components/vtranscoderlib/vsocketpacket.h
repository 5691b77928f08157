#pragma once
// CVSocketPacket: one packet of a Unix socket of packets (SOCK_SEQPACKET) with the descriptors
// it carries (SCM_RIGHTS). The server and the warm helper talk this way, so that the files of
// a job travel as open descriptors and are never reopened by name.
//
// Receiving is bounded: a packet longer than the reader takes, or with more descriptors, is
// refused as truncated, and every descriptor that arrived with it is closed. Received
// descriptors are close-on-exec. Stateless; a socket must be read by one thread at a time.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qlib/qsys/uniquefd.h"

struct SVSocketPacket {
    std::string bytes;
    std::vector<qsys::UniqueFd> descriptors;
    bool truncated = false;  // cut short; bytes and descriptors are then empty
};

class CVSocketPacket {
public:
    // Largest number of descriptors one packet may carry.
    static constexpr size_t k_maxDescriptors = 4;

    // Sends the bytes (not empty) with the descriptors (which stay open here). False with errno
    // set when the peer has gone or the socket fails; never raises SIGPIPE.
    static bool Send(int socket, std::string_view bytes, const std::vector<int>& descriptors = {});

    // Waits up to `timeout` (negative: without end) for one packet of at most maxBytes and
    // k_maxDescriptors descriptors. nullopt when the peer has gone, the socket failed or the
    // time ran out.
    static std::optional<SVSocketPacket> Receive(int socket, size_t maxBytes,
                                                 std::chrono::milliseconds timeout);
};
