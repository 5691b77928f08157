#include "components/vtranscoderlib/vservepacket.h"

#include "components/vtranscoderlib/vhelpermessage.h"
#include "components/vtranscoderlib/vnumbertext.h"

namespace {

// The NUL-ended elements of a packet, or the reason it has none.
std::variant<std::vector<std::string>, std::string> Split(std::string_view packet) {
    if (packet.size() > CVServePacket::k_maxBytes) {
        return std::string("the packet is too long");
    }
    if (packet.empty() || packet.back() != '\0') {
        return std::string("the packet does not end with a NUL byte");
    }
    std::vector<std::string> elements;
    for (size_t start = 0; start < packet.size();) {
        if (elements.size() == CVServePacket::k_maxElements) {
            return std::string("the packet has too many elements");
        }
        size_t end = packet.find('\0', start);
        elements.emplace_back(packet.substr(start, end - start));
        start = end + 1;
    }
    return elements;
}

}  // namespace

std::vector<int> SVServedJob::Targets() const {
    std::vector<int> targets{CVHelperMessage::k_reportDescriptor, request.sourceDescriptor};
    if (request.task == EVHelperTask_Convert) {
        targets.push_back(request.outputDescriptor);
    }
    return targets;
}

std::string CVServePacket::Format(const SVHelperRequest& request, int niceness) {
    std::string packet = CVNumberText::Format(niceness);
    packet += '\0';
    for (const std::string& argument : request.ToArguments()) {
        packet += argument;
        packet += '\0';
    }
    return packet;
}

std::variant<SVServedJob, std::string> CVServePacket::Parse(std::string_view packet) {
    auto split = Split(packet);
    if (auto* problem = std::get_if<std::string>(&split)) {
        return *problem;
    }
    auto& elements = std::get<std::vector<std::string>>(split);
    SVServedJob job;
    auto niceness = CVNumberText::Parse<int>(elements.front());
    if (!niceness || *niceness < 0 || *niceness > k_maxNiceness) {
        return "the nice value " + elements.front() + " is not one from 0 to 19";
    }
    job.niceness = *niceness;
    auto parsed =
        SVHelperRequest::Parse(std::vector<std::string>(elements.begin() + 1, elements.end()));
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        return *problem;
    }
    job.request = std::move(std::get<SVHelperRequest>(parsed));
    bool convert = job.request.task == EVHelperTask_Convert;
    if (job.request.sourceDescriptor != SVHelperRequest::k_sourceDescriptor ||
        job.request.outputDescriptor != (convert ? SVHelperRequest::k_outputDescriptor : -1)) {
        return std::string("the job must use the handed source and output descriptors");
    }
    return job;
}
