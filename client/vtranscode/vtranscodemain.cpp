// vtranscode: the transcode server's command line client.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstring>
#include <string>

#include "client/vclioutput.h"
#include "client/vclisession.h"
#include "client/vconvertcommand.h"
#include "client/vmethodcommands.h"
#include "client/vwatchcommand.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comerror.h"

int main(int argc, char** argv) {
    CLI::App app("Converts media files for phones through the transcode server", "vtranscode");
    app.require_subcommand(1);
    app.fallthrough();
    bool json = std::any_of(argv + 1, argv + argc, [](const char* a) { return std::string(a) == "--json"; });
    app.add_flag("--json", json, "print JSON for scripts");
    CVItemsLib::RegisterClasses();
    const CVCliOutput output(json);
    CVCliSession session;
    CVConvertCommand convert(app, session, output);
    CVWatchCommand watch(app, session, output);
    CVMethodCommands methods(app, session, output);
    try {
        app.parse(argc, argv);
        return 0;
    } catch (const CLI::RuntimeError& result) {
        return result.get_exit_code();
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
    } catch (const _com_error& error) {
        output.PrintError(CQException::FromComError(error));
    } catch (const CQException& error) {
        output.PrintError(error);
    } catch (const std::exception& error) {
        output.PrintError(CQException(std::wstring(error.what(), error.what() + std::strlen(error.what())), E_FAIL));
    }
    return 1;
}
