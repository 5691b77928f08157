#include "components/vtranscoderlib/vhelperrequest.h"

#include <functional>
#include <map>

#include "components/vtranscoderlib/vnumbertext.h"

namespace {

// Reads the whole text as a number into `value`; false, leaving it, when it is not one.
template <typename T>
bool ParseNumber(const std::string& text, T& value) {
    auto parsed = CVNumberText::Parse<T>(text);
    if (parsed) {
        value = *parsed;
    }
    return parsed.has_value();
}

// One numeric option: its name and where its value goes.
struct NumericOption {
    const char* name;
    std::function<bool(SVTranscodeSettings&, const std::string&)> parse;
    std::function<std::string(const SVTranscodeSettings&)> format;
};

template <typename T>
NumericOption Option(const char* name, T SVTranscodeSettings::*member) {
    return {name,
            [member](SVTranscodeSettings& settings, const std::string& text) {
                return ParseNumber(text, settings.*member);
            },
            [member](const SVTranscodeSettings& settings) {
                return CVNumberText::Format(settings.*member);
            }};
}

const std::vector<NumericOption>& SettingOptions() {
    static const std::vector<NumericOption> options{
        Option("--video-width", &SVTranscodeSettings::videoWidth),
        Option("--video-height", &SVTranscodeSettings::videoHeight),
        Option("--frame-rate", &SVTranscodeSettings::frameRate),
        Option("--video-bit-rate", &SVTranscodeSettings::videoBitRate),
        Option("--audio-bit-rate", &SVTranscodeSettings::audioBitRate),
        Option("--audio-streams", &SVTranscodeSettings::audioStreams),
        Option("--image-width", &SVTranscodeSettings::imageWidth),
        Option("--image-height", &SVTranscodeSettings::imageHeight),
    };
    return options;
}

const NumericOption* FindSettingOption(const std::string& name) {
    for (const NumericOption& option : SettingOptions()) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<std::string> SVHelperRequest::ToArguments() const {
    std::vector<std::string> arguments{task == EVHelperTask_Probe ? "probe" : "convert", "--source",
                                       source};
    if (sourceDescriptor >= 0) {
        arguments.insert(arguments.end(), {"--source-fd", CVNumberText::Format(sourceDescriptor)});
    }
    if (task == EVHelperTask_Probe) {
        return arguments;
    }
    if (outputDescriptor >= 0) {
        arguments.insert(arguments.end(), {"--output-fd", CVNumberText::Format(outputDescriptor)});
    } else {
        arguments.insert(arguments.end(), {"--output", output});
    }
    arguments.insert(arguments.end(), {"--format", CVNumberText::Format(outputFormat)});
    for (const NumericOption& option : SettingOptions()) {
        arguments.push_back(option.name);
        arguments.push_back(option.format(settings));
    }
    return arguments;
}

std::variant<SVHelperRequest, std::string> SVHelperRequest::Parse(
    const std::vector<std::string>& args) {
    SVHelperRequest request;
    if (args.empty() || (args[0] != "probe" && args[0] != "convert")) {
        return std::string("the first argument must be \"probe\" or \"convert\"");
    }
    request.task = args[0] == "probe" ? EVHelperTask_Probe : EVHelperTask_Convert;
    bool haveFormat = false;
    for (size_t i = 1; i < args.size(); i += 2) {
        const std::string& name = args[i];
        if (i + 1 >= args.size()) {
            return "the option " + name + " has no value";
        }
        const std::string& value = args[i + 1];
        if (name == "--source") {
            request.source = value;
        } else if (name == "--source-fd" || name == "--output-fd") {
            int& descriptor =
                name == "--source-fd" ? request.sourceDescriptor : request.outputDescriptor;
            if (!ParseNumber(value, descriptor) || descriptor < 0) {
                return "the descriptor " + value + " of " + name + " is not a number";
            }
        } else if (name == "--output" && request.task == EVHelperTask_Convert) {
            request.output = value;
        } else if (name == "--format" && request.task == EVHelperTask_Convert) {
            if (!ParseNumber(value, request.outputFormat)) {
                return "the format " + value + " is not a number";
            }
            haveFormat = true;
        } else if (const NumericOption* option = FindSettingOption(name);
                   option && request.task == EVHelperTask_Convert) {
            if (!option->parse(request.settings, value)) {
                return "the value " + value + " of " + name + " is not a number";
            }
        } else {
            return "unknown option " + name;
        }
    }
    if (request.source.empty()) {
        return std::string("no --source given");
    }
    bool haveOutput = !request.output.empty() || request.outputDescriptor >= 0;
    if (request.task == EVHelperTask_Convert && (!haveOutput || !haveFormat)) {
        return std::string("a conversion needs --output or --output-fd, and --format");
    }
    if (request.task == EVHelperTask_Probe && request.outputDescriptor >= 0) {
        return std::string("a probe writes no output");
    }
    return request;
}
