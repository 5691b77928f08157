// The registry file reader on any text: it accepts or throws RegistryFormatError (nothing
// else), and a tree it accepted is written as a file that reads back to the same text.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "qlib/qsys/registryfileformat.h"
#include "qlib/qsys/registryformaterror.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    constexpr std::wstring_view k_root = L"HKEY_CURRENT_USER";
    std::string written;
    try {
        written = qsys::RegistryFileFormat::Write(
            qsys::RegistryFileFormat::Parse(text, k_root, "fuzz.reg"));
    } catch (const qsys::RegistryFormatError&) {
        return 0;
    }
    const qsys::RegistryKeyNode again = qsys::RegistryFileFormat::Parse(written, k_root, "again");
    FUZZ_CHECK(qsys::RegistryFileFormat::Write(again) == written);
    return 0;
}
