#include "qlib/qsys/debugoutput.h"

#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace qsys {
namespace {

TEST(DebugOutput, LinesOfManyThreadsStayWhole) {
    constexpr int k_threads = 8;
    constexpr int k_lines = 200;
    const std::wstring padding(200, L'.');
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> writers;
    for (int t = 0; t < k_threads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < k_lines; ++i) {
                WriteDebugOutput(L"thread " + std::to_wstring(t) + L" line " + std::to_wstring(i) +
                                 L" " + padding + (i % 2 == 0 ? L"\n" : L""));
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    std::istringstream output(::testing::internal::GetCapturedStderr());
    const std::string paddingBytes(200, '.');
    std::set<std::string> seen;
    for (std::string line; std::getline(output, line);) {
        EXPECT_TRUE(line.starts_with("thread ") && line.ends_with(" " + paddingBytes)) << line;
        seen.insert(line);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(k_threads * k_lines));
}

}  // namespace
}  // namespace qsys
