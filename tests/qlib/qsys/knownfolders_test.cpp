#include "qlib/qsys/knownfolders.h"

#include <gtest/gtest.h>

#include "tests/qlib/qsys/testsupport.h"

namespace qsys {
namespace {

using test::ScopedEnvironment;

TEST(KnownFolders, VariablesHoldingAbsolutePathsWinElseTheUsualPlaces) {
    const ScopedEnvironment home("HOME", "/home/someone/");
    {
        const ScopedEnvironment tmp("TMPDIR", "/var/tmp/x/");
        const ScopedEnvironment data("XDG_DATA_HOME", "/data");
        const ScopedEnvironment config("XDG_CONFIG_HOME", "/config");
        const ScopedEnvironment runtime("XDG_RUNTIME_DIR", "/run/user/1");
        EXPECT_EQ(TemporaryDirectory(), L"/var/tmp/x");
        EXPECT_EQ(LocalAppDataDirectory(), L"/data");
        EXPECT_EQ(ConfigDirectory(), L"/config");
        EXPECT_EQ(RuntimeDirectory(), L"/run/user/1");
    }
    const ScopedEnvironment tmp("TMPDIR", "relative");
    const ScopedEnvironment data("XDG_DATA_HOME", std::nullopt);
    const ScopedEnvironment config("XDG_CONFIG_HOME", "");
    const ScopedEnvironment runtime("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(TemporaryDirectory(), L"/tmp");
    EXPECT_EQ(LocalAppDataDirectory(), L"/home/someone/.local/share");
    EXPECT_EQ(ConfigDirectory(), L"/home/someone/.config");
    EXPECT_EQ(RuntimeDirectory(), std::nullopt);
}

TEST(KnownFolders, WithoutHomeThePasswordEntryIsUsed) {
    const ScopedEnvironment home("HOME", std::nullopt);
    const std::wstring fromEntry = HomeDirectory();
    EXPECT_TRUE(fromEntry.starts_with(L"/")) << "every user of the test machine has a home folder";
}

}  // namespace
}  // namespace qsys
