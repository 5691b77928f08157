#include "qlib/qsys/currentthread.h"

#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

namespace qsys {
namespace {

TEST(CurrentThread, NamesAreCutToTheSystemLimitOnACharacterBoundary) {
    std::thread([] {
        EXPECT_TRUE(SetCurrentThreadName(L"VTranscodeServiceWorker"));
        EXPECT_EQ(GetCurrentThreadName(), L"VTranscodeServi");
        EXPECT_TRUE(
            SetCurrentThreadName(L"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9"));
        EXPECT_EQ(GetCurrentThreadName(), L"\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9");
        EXPECT_TRUE(SetCurrentThreadName(L"short"));
        EXPECT_EQ(GetCurrentThreadName(), L"short");
    }).join();
}

TEST(CurrentThread, IdsAreTheKernelsThreadIds) {
    EXPECT_EQ(GetCurrentThreadId(), static_cast<uint32_t>(::getpid()));
    uint32_t other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, GetCurrentThreadId());
    EXPECT_NE(other, 0u);
}

}  // namespace
}  // namespace qsys
