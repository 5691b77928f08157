#include "qlib/qutilitylib/qbufmalloc.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "qlib/qcom/hresult.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;

namespace {

std::string Content(CQBuf& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize());
}

}  // namespace

TEST(CQBufMalloc, AllocateDiscardsResizeKeepsAndNewBytesAreZero) {
    CQBufMalloc buffer(4);
    EXPECT_EQ(Content(buffer), std::string(4, '\0'));
    std::memcpy(buffer.GetData(), "abcd", 4);
    buffer.Resize(6);
    EXPECT_EQ(Content(buffer), std::string("abcd\0\0", 6));
    buffer.Resize(2);
    EXPECT_EQ(Content(buffer), "ab");
    buffer.Allocate(3);
    EXPECT_EQ(Content(buffer), std::string(3, '\0'));
    buffer.Resize(0);
    EXPECT_EQ(buffer.GetSize(), 0u);
    EXPECT_EQ(buffer.GetData(), nullptr);
}

TEST(CQBufMalloc, CopyAndAppendAcceptTheirOwnBytes) {
    CQBufMalloc buffer;
    buffer.Copy("hello world", 11);
    buffer.Copy(buffer.GetData() + 6, 5);
    EXPECT_EQ(Content(buffer), "world");
    buffer.Append(buffer.GetData(), 3);
    EXPECT_EQ(Content(buffer), "worldwor");
    buffer.Append("", 0);
    EXPECT_EQ(Content(buffer), "worldwor");
    buffer.Copy("ignored", 0);
    EXPECT_EQ(buffer.GetSize(), 0u) << "copying nothing leaves the buffer empty";
}

TEST(CQBufMalloc, ImpossibleSizesRaiseOutOfMemoryAndKeepTheContent) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' allocators stop the process on impossible sizes";
#endif
    CQBufMalloc buffer;
    buffer.Copy("keep", 4);
    const auto error = Raised([&] { buffer.Resize(std::numeric_limits<uint64_t>::max() / 2); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetHResult(), E_OUTOFMEMORY);
    EXPECT_EQ(Content(buffer), "keep");
    const auto allocate = Raised([&] { buffer.Allocate(std::numeric_limits<uint64_t>::max()); });
    ASSERT_TRUE(allocate);
    EXPECT_EQ(allocate->GetHResult(), E_OUTOFMEMORY);
    EXPECT_EQ(buffer.GetSize(), 0u);
}
