// Kernel object names: every process must make the same name of the same text.

#include <gtest/gtest.h>

#include <string>

#include "qlib/qutilitylib/qsystem.h"

namespace {

std::wstring KernelName(std::wstring name, bool global) {
    CQSystem::MakeKernelObjectName(name, global);
    return name;
}

}  // namespace

TEST(CQSystem, MakeKernelObjectNameReplacesAndUpperCases) {
    EXPECT_EQ(KernelName(L"server log.txt", false), L"SERVER_LOG_TXT");
    EXPECT_EQ(KernelName(L"server log.txt", true), L"Global\\SERVER_LOG_TXT");
    EXPECT_EQ(KernelName(L"/tmp/Zelto-1/x.log", false), L"_TMP_ZELTO_1_X_LOG");
    // Outside ASCII nothing counts as a letter: the name does not depend on the locale.
    EXPECT_EQ(KernelName(L"Jürgen", false), L"J_RGEN");
}

TEST(CQSystem, MakeKernelObjectNameKeepsTheEndOfALongName) {
    std::wstring name(40, L'a');
    name += std::wstring(260, L'b');
    const std::wstring local = KernelName(name, false);
    EXPECT_EQ(local, std::wstring(260, L'B'));

    name = std::wstring(290, L'a') + L"xyz";
    const std::wstring global = KernelName(name, true);
    EXPECT_EQ(global.size(), 260u);
    EXPECT_EQ(global, L"Global\\" + std::wstring(250, L'A') + L"XYZ");

    EXPECT_EQ(KernelName(std::wstring(260, L'c'), false), std::wstring(260, L'C'));
}
