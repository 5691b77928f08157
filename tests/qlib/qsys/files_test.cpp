// The whole-file helpers: the one atomic replacement every layer writes through.

#include "qlib/qsys/files.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

#include "tests/qlib/qsys/testsupport.h"

namespace qsys {
namespace {

size_t EntriesIn(const std::string& folder) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

TEST(WriteFileAtomically, ReplacesANameOfTheLongestLengthAndKeepsTheMode) {
    test::TemporaryFolder folder;
    const std::string path = folder.Path() + "/" + std::string(255, 'n');
    WriteFileAtomically(path, "first", 0600);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WriteFileAtomically(path, "second", 0600);
    EXPECT_EQ(ReadFileIfExists(path), "second");
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u) << "an existing file keeps its mode";
    EXPECT_EQ(EntriesIn(folder.Path()), 1u) << "no temporary file is left";
}

TEST(WriteFileAtomically, AFailureBeforeTheRenameLeavesTheOldFileAndNoTemporaryFile) {
    test::TemporaryFolder folder;
    const std::string path = folder.Path() + "/target";
    WriteFileAtomically(path, "old", 0600);
    // A folder in the target's place: the rename fails.
    const std::string blocked = folder.Path() + "/blocked";
    std::filesystem::create_directories(blocked + "/inside");
    EXPECT_THROW(WriteFileAtomically(blocked, "new", 0600), std::system_error);
    EXPECT_TRUE(std::filesystem::is_directory(blocked + "/inside"));
    EXPECT_EQ(ReadFileIfExists(path), "old");
    EXPECT_EQ(EntriesIn(folder.Path()), 2u);
}

TEST(WriteFileDurably, WritesInPlaceAndRefusesASymbolicLink) {
    test::TemporaryFolder folder;
    const std::string path = folder.Path() + "/staging";
    WriteFileDurably(path, "a longer first text", 0600);
    WriteFileDurably(path, "short", 0600);
    EXPECT_EQ(ReadFileIfExists(path), "short") << "the old contents are cut off";

    // A link planted in the staging name would redirect the write to another file.
    const std::string victim = folder.Path() + "/victim";
    WriteFileDurably(victim, "keep", 0600);
    const std::string link = folder.Path() + "/link";
    std::filesystem::create_symlink(victim, link);
    EXPECT_THROW(WriteFileDurably(link, "overwritten", 0600), std::system_error);
    EXPECT_EQ(ReadFileIfExists(victim), "keep");
}

}  // namespace
}  // namespace qsys
