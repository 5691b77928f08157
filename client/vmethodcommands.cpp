#include "client/vmethodcommands.h"

#include <charconv>
#include <set>

#include "qlib/qcom/comerror.h"
#include "qlib/qsys/textcodec.h"
#include "vtranscoder/vtranscoderinterfaces.h"
#include "vtranscodeserver/vtranscodeserverlib.h"

namespace {

// The service's interfaces, in the order a method name is looked up (the dual interface
// first, so that a method both declare is called through it).
const std::vector<const InterfaceInfo*>& ServiceTables() {
    static const std::vector<const InterfaceInfo*> s_tables = {
        &IVTranscodeService::TypeInfo(), &IVTranscodeServiceAdmin::TypeInfo(),
        &IVTranscodeServiceCtrl::TypeInfo(), &IVTranscodeInfo::TypeInfo()};
    return s_tables;
}

std::optional<LONG> WholeNumber(const std::string& text) {
    LONG value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

VARIANT ScalarArgument(const ParamInfo& param, const std::string& text) {
    if (param.vt == VT_VARIANT) {
        const std::optional<LONG> number = WholeNumber(text);
        return number ? VARIANT(*number) : VARIANT(qsys::FromUtf8(text));
    }
    if (param.vt == VT_BOOL) {
        const bool yes = text == "1" || text == "true" || text == "yes";
        if (!yes && text != "0" && text != "false" && text != "no") {
            throw _com_error(DISP_E_TYPEMISMATCH);
        }
        return VARIANT(ToVariantBool(yes));
    }
    VARIANT value(qsys::FromUtf8(text));
    ThrowIfFailed(value.ChangeType(param.vt));
    return value;
}

std::vector<std::wstring> OutNames(const MethodInfo& method) {
    std::vector<std::wstring> names;
    for (const ParamInfo& param : method.params) {
        if (param.direction != ParamDirection::In) {
            names.push_back(param.name);
        }
    }
    return names;
}

}  // namespace

CVMethodCommands::CVMethodCommands(CLI::App& app, CVCliSession& session, const CVCliOutput& output)
    : m_session(session), m_output(output) {
    std::set<std::wstring> added;
    for (const InterfaceInfo* table : ServiceTables()) {
        for (const MethodInfo& method : table->methods) {
            if (added.insert(method.name).second) {
                AddMethod(app, *table, method);
            }
        }
    }
}

void CVMethodCommands::AddMethod(CLI::App& app, const InterfaceInfo& table,
                                 const MethodInfo& method) {
    std::string usage = "Calls " + qsys::ToUtf8(table.name + L"::" + method.name) + "(";
    for (const ParamInfo& param : method.params) {
        if (param.direction == ParamDirection::In) {
            usage += (usage.back() == '(' ? "" : ", ") + qsys::ToUtf8(param.name) +
                     (param.presence == ParamPresence::Optional ? "?" : "");
        }
    }
    CLI::App* command = app.add_subcommand(qsys::ToUtf8(method.name), usage + ")");
    auto arguments = std::make_shared<std::vector<std::string>>();
    m_arguments.push_back(arguments);
    command->add_option("arguments", *arguments, "the method's arguments in order");
    command->callback([this, &table, &method, arguments] {
        throw CLI::RuntimeError(Run(table, method, *arguments));
    });
}

int CVMethodCommands::Run(const InterfaceInfo& table, const MethodInfo& method,
                          const std::vector<std::string>& arguments) {
    const std::vector<VARIANT> results =
        m_session.Service().Call(table, method, Convert(method, arguments));
    m_output.PrintResults(method.name, OutNames(method), results);
    return 0;
}

std::vector<VARIANT> CVMethodCommands::Convert(const MethodInfo& method,
                                               const std::vector<std::string>& arguments) {
    std::vector<VARIANT> values;
    size_t next = 0;
    for (const ParamInfo& param : method.params) {
        if (param.direction != ParamDirection::In) {
            continue;
        }
        if (next >= arguments.size()) {
            if (param.presence != ParamPresence::Optional) {
                throw CQException(
                    L"Too few arguments for " + method.name + L": " + param.name + L" is missing.",
                    DISP_E_BADPARAMCOUNT);
            }
            values.push_back(VARIANT::Missing());
            continue;
        }
        if (param.iid != nullptr && *param.iid == IVItem::k_iid) {
            values.push_back(ItemArgument(arguments[next++]));
        } else if (param.iid != nullptr) {
            throw CQException(method.name +
                                  L" takes an object the command line cannot make; "
                                  L"use AddFile to queue a job.",
                              DISP_E_TYPEMISMATCH);
        } else {
            values.push_back(ScalarArgument(param, arguments[next++]));
        }
    }
    if (next < arguments.size()) {
        throw CQException(L"Too many arguments for " + method.name + L".", DISP_E_BADPARAMCOUNT);
    }
    return values;
}

VARIANT CVMethodCommands::ItemArgument(const std::string& path) {
    const MethodInfo* getFileInfo = IVTranscodeInfo::TypeInfo().FindMethod(L"GetFileInfo");
    std::vector<VARIANT> info = m_session.Service().Call(IVTranscodeInfo::TypeInfo(), *getFileInfo,
                                                         {VARIANT(qsys::FromUtf8(path))});
    return info.at(0);
}
