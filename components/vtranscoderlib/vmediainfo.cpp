#include "components/vtranscoderlib/vmediainfo.h"

#include "qlib/qsys/textcodec.h"

CVHelperMessage ToMessage(const SVMediaInfo& info) {
    CVHelperMessage message(CVHelperMessage::k_info);
    message.Set("mime", qsys::ToUtf8(info.mimeType))
        .Set("class", qsys::ToUtf8(info.className))
        .Set("codec", qsys::ToUtf8(info.codec))
        .Set("width", int64_t{info.width})
        .Set("height", int64_t{info.height})
        .Set("fps", info.frameRate)
        .Set("bitrate", info.bitRate)
        .Set("audiostreams", int64_t{info.audioStreamCount})
        .Set("duration", info.durationSeconds);
    return message;
}

SVMediaInfo MediaInfoFromMessage(const CVHelperMessage& message) {
    SVMediaInfo info;
    info.mimeType = qsys::FromUtf8(message.Text("mime"));
    info.className = qsys::FromUtf8(message.Text("class"));
    info.codec = qsys::FromUtf8(message.Text("codec"));
    info.width = static_cast<int32_t>(message.Integer("width"));
    info.height = static_cast<int32_t>(message.Integer("height"));
    info.frameRate = message.Real("fps");
    info.bitRate = message.Integer("bitrate");
    info.audioStreamCount = static_cast<int32_t>(message.Integer("audiostreams"));
    info.durationSeconds = message.Real("duration");
    return info;
}
