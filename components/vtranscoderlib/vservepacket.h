#pragma once
// CVServePacket: one job as the server sends it to the warm helper. The packet is the helper's
// command line (SVHelperRequest) after the nice value the job runs at, each element ended by a
// NUL byte; the descriptors travel beside it (the report first, then the source, then the
// output of a conversion) and the job finds them where a helper of its own would.
//
// Parse treats the packet as hostile: its size and number of elements are bounded, every
// element must be ended, and the request must be one that the command line parser accepts,
// naming exactly the handed descriptors. Value types; stateless.

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "components/vtranscoderlib/vhelperrequest.h"

struct SVServedJob {
    SVHelperRequest request;
    int niceness = 0;

    // The number of descriptors that travel with the packet.
    size_t DescriptorCount() const { return request.task == EVHelperTask_Convert ? 3 : 2; }
    // Where the child finds each of them, in the order they travel.
    std::vector<int> Targets() const;
};

class CVServePacket {
public:
    static constexpr size_t k_maxBytes = 64 * 1024;
    static constexpr size_t k_maxElements = 64;
    static constexpr int k_maxNiceness = 19;

    // The packet of a request whose descriptors are the agreed ones (k_sourceDescriptor,
    // k_outputDescriptor of SVHelperRequest).
    static std::string Format(const SVHelperRequest& request, int niceness);
    // The job of a packet, or the reason it is not one.
    static std::variant<SVServedJob, std::string> Parse(std::string_view packet);
};
