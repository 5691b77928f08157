#pragma once
// CVMethodCommands: one subcommand per method of the service's interfaces, made from their
// type library tables, so that every method is reachable from a shell:
//
//     vtranscode GetCount
//     vtranscode AddFile in.mp4 out.3gp 2 10 AB-123
//     vtranscode GetOutputFormatsForItem AB-123 clip.mp4     (an item argument: a file path)
//
// Arguments are the in-parameters in order, as text converted to each parameter's type (a
// VARIANT parameter takes a whole number as a number, any other text as a string); trailing
// optional ones may be left out. An item parameter takes a file path: the item is the
// service's file information of it. A transcode item parameter takes source, destination,
// format and device as four arguments in its place.
//
// One thread.

#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "client/vclioutput.h"
#include "client/vclisession.h"

class CVMethodCommands {
public:
    CVMethodCommands(CLI::App& app, CVCliSession& session, const CVCliOutput& output);

private:
    void AddMethod(CLI::App& app, const InterfaceInfo& table, const MethodInfo& method);
    int Run(const InterfaceInfo& table, const MethodInfo& method,
            const std::vector<std::string>& arguments);
    std::vector<VARIANT> Convert(const MethodInfo& method,
                                 const std::vector<std::string>& arguments);
    VARIANT ItemArgument(const std::string& path);

    CVCliSession& m_session;
    const CVCliOutput& m_output;
    std::vector<std::shared_ptr<std::vector<std::string>>> m_arguments;  // one per subcommand
};
