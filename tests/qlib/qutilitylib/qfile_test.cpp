#include "qlib/qutilitylib/qfile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <numeric>

#include <gtest/gtest.h>

#include "qlib/qcom/hresult.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::FileTestFolder;
using qutilitylib::test::Raised;
using qutilitylib::test::ReadBytes;
using qutilitylib::test::RealEntries;

TEST(CQFile, OpenCreatesFoldersAndWritesWholeBlocks) {
    FileTestFolder folder;
    std::array<uint8_t, CQFile::k_blockSize> block{};
    std::iota(block.begin(), block.end(), uint8_t{0});
    CQFile file;
    file.Open(folder.Wide(L"messages/QEventMessages.dll"));
    EXPECT_TRUE(file.IsOpen());
    file.WriteBytes(block);
    file.WriteBytes(block);
    file.Close();
    const std::string bytes = ReadBytes(folder.Native(L"messages/QEventMessages.dll"));
    ASSERT_EQ(bytes.size(), 2 * CQFile::k_blockSize);
    EXPECT_EQ(static_cast<uint8_t>(bytes[CQFile::k_blockSize + 300]), block[300]);
}

TEST(CQFile, FailuresUseTheCLibraryNumbers) {
    FileTestFolder folder;
    CQFile file;
    const auto notOpen =
        Raised([&] { file.WriteBytes(std::array<uint8_t, CQFile::k_blockSize>{}); });
    ASSERT_TRUE(notOpen);
    const auto notOpenEntries = RealEntries(*notOpen);
    ASSERT_EQ(notOpenEntries.size(), 1u);
    EXPECT_EQ(notOpenEntries[0].code, QERR_FILE_NOT_OPEN);
    EXPECT_EQ(notOpenEntries[0].description, L"File not open.");

    const auto missing = Raised([&] { file.OpenEx(folder.Wide(L"none/x"), O_RDONLY); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->GetHResult(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    struct stat status {};
    EXPECT_NE(::stat(folder.Native(L"none").c_str(), &status), 0)
        << "opening without O_CREAT creates no folder";

    const auto folderAsFile = Raised([&] { file.OpenEx(folder.Path(), O_RDWR); });
    ASSERT_TRUE(folderAsFile);
    const auto entries = RealEntries(*folderAsFile);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, EISDIR);
    EXPECT_EQ(entries[0].description, L"Is a directory");
    EXPECT_EQ(entries[0].values.at(L"File"), folder.Path());
    EXPECT_FALSE(file.IsOpen());
}
