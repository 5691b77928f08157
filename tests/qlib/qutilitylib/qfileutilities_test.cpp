#include "qlib/qutilitylib/qfileutilities.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "qlib/qcom/hresult.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qbufmalloc.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::FileTestFolder;
using qutilitylib::test::Raised;
using qutilitylib::test::ReadBytes;
using qutilitylib::test::RealEntries;
using qutilitylib::test::UnprivilegedScope;
using qutilitylib::test::WriteBytes;

namespace {

const HRESULT k_fileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

void MakeFolder(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(::mkdir(path.c_str(), mode), 0) << path;
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* previous = std::getenv(name)) {
            m_previous = previous;
            m_hadValue = true;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (m_hadValue) {
            ::setenv(m_name.c_str(), m_previous.c_str(), 1);
        } else {
            ::unsetenv(m_name.c_str());
        }
    }

private:
    std::string m_name;
    std::string m_previous;
    bool m_hadValue = false;
};

// Installs a write failure for the life of the object.
class ScopedWriteFailure {
public:
    explicit ScopedWriteFailure(CQFileUtilities::WriteFailure failure)
        : m_previous(CQFileUtilities::SetWriteFailure(std::move(failure))) {}
    ~ScopedWriteFailure() { CQFileUtilities::SetWriteFailure(m_previous); }

private:
    CQFileUtilities::WriteFailure m_previous;
};

// Limits the size of files this process may write (a full disk at a chosen byte) for the life
// of the object. The signal the limit raises is ignored so that the write fails with EFBIG.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_previous.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

}  // namespace

// --- Path strings ---

TEST(CQFileUtilities, ExtendedLengthFormsRoundTrip) {
    struct Case {
        std::wstring path;
        std::wstring extended;
        std::wstring back;
    };
    const Case cases[] = {
        {L"C:/a/b", L"\\\\?\\C:\\a\\b", L"C:\\a\\b"},
        {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x", L"\\\\server\\share\\x"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x", L"C:\\x"},
        {L"sub\\file", L"sub\\file", L"sub\\file"},
        {L"/home/user/clip.mp4", L"/home/user/clip.mp4", L"/home/user/clip.mp4"},
        {L"//network/style", L"//network/style", L"//network/style"},
        {L"", L"", L""},
    };
    for (const Case& c : cases) {
        std::wstring path = CQFileUtilities::GetUnicodePath(c.path);
        EXPECT_EQ(path, c.extended) << c.path;
        CQFileUtilities::RemoveUnicodePath(path);
        EXPECT_EQ(path, c.back) << c.path;
    }
}

TEST(CQFileUtilities, RelativePathsAndSeparators) {
    EXPECT_TRUE(CQFileUtilities::IsRelativePath(L""));
    EXPECT_TRUE(CQFileUtilities::IsRelativePath(L"sub/file"));
    EXPECT_TRUE(CQFileUtilities::IsRelativePath(L"\\single"));
    EXPECT_FALSE(CQFileUtilities::IsRelativePath(L"/abs"));
    EXPECT_FALSE(CQFileUtilities::IsRelativePath(L"C:\\x"));
    EXPECT_FALSE(CQFileUtilities::IsRelativePath(L"\\\\server\\share"));
    EXPECT_EQ(CQFileUtilities::SetPathSeparator(L"a\\b/c\\"), L"a/b/c/");
}

TEST(CQFileUtilities, SplitsAtEitherSeparator) {
    EXPECT_EQ(CQFileUtilities::GetFilenameFromPath(L"/a/b\\c.txt"), L"c.txt");
    EXPECT_EQ(CQFileUtilities::GetFilenameFromPath(L"name"), L"name");
    EXPECT_EQ(CQFileUtilities::GetFilenameFromPath(L"/dir/"), L"");
    EXPECT_EQ(CQFileUtilities::GetPathFromFilename(L"/a\\b/c.txt"), L"/a\\b/");
    EXPECT_EQ(CQFileUtilities::GetPathFromFilename(L"C:\\dir\\c.txt"), L"C:\\dir\\");
    EXPECT_EQ(CQFileUtilities::GetPathFromFilename(L"name"), L"");
}

TEST(CQFileUtilities, ExtensionOnlyFromTheFileNameAndNeverItsFirstCharacter) {
    EXPECT_EQ(CQFileUtilities::GetFileExtension(L"C:\\a.b\\file"), L"");
    EXPECT_EQ(CQFileUtilities::GetFileExtension(L"/a.b/file"), L"");
    EXPECT_EQ(CQFileUtilities::GetFileExtension(L"C:\\dir\\.profile"), L"");
    EXPECT_EQ(CQFileUtilities::GetFileExtension(L"x.tar.gz"), L".gz");
    EXPECT_EQ(CQFileUtilities::GetFileExtension(L"/d/archive."), L".");
    EXPECT_EQ(CQFileUtilities::GetFilenameWithoutExtension(L"x.tar.gz"), L"x.tar");
    EXPECT_EQ(CQFileUtilities::GetFilenameWithoutExtension(L"/a.b\\clip.mp4"), L"clip");
    // Name and extension always make up the whole file name, so a dot file keeps its name.
    EXPECT_EQ(CQFileUtilities::GetFilenameWithoutExtension(L"/dir/.profile"), L".profile");
    EXPECT_EQ(CQFileUtilities::GetFilenameWithoutExtension(L"/dir/.config.json"), L".config");
}

TEST(CQFileUtilities, ConcatPathnameJoinsWithOneSeparator) {
    EXPECT_EQ(CQFileUtilities::ConcatPathname(L"/dir", L"/name"), L"/dir/name");
    EXPECT_EQ(CQFileUtilities::ConcatPathname(L"/dir/", L"name"), L"/dir/name");
    EXPECT_EQ(CQFileUtilities::ConcatPathname(L"C:\\dir\\", L"\\name"), L"C:\\dir\\name");
    EXPECT_EQ(CQFileUtilities::ConcatPathname(L"/dir/", L"//name"), L"/dir//name")
        << "only one leading separator is dropped";
    EXPECT_EQ(CQFileUtilities::ConcatPathname(L"/dir", L""), L"/dir");
    EXPECT_EQ(CQFileUtilities::ConcatPathname(L"", L""), L"");
    EXPECT_EQ(CQFileUtilities::ConcatPathname(L"HKEY_CURRENT_USER\\Software", L"Zelto"),
              L"HKEY_CURRENT_USER\\Software/Zelto");

    const auto error = Raised([] { CQFileUtilities::ConcatPathname(L"", L"name"); });
    ASSERT_TRUE(error);
    const auto entries = RealEntries(*error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, QERR_INVALID_PARAMETER);
    EXPECT_EQ(entries[0].description, L"Invalid function parameter.");
    EXPECT_EQ(entries[0].function, L"CQFileUtilities::ConcatPathname");
    EXPECT_EQ(entries[0].values.at(L"CQFileUtilities.ConcatPathname.str1"), L"");
    EXPECT_EQ(entries[0].values.at(L"CQFileUtilities.ConcatPathname.str2"), L"name");
}

TEST(CQFileUtilities, EnsurePathSeparatorAtEndAddsOnlyWhereMissing) {
    std::wstring empty;
    CQFileUtilities::EnsurePathSeparatorAtEnd(empty);
    EXPECT_EQ(empty, L"");
    std::wstring plain = L"/a";
    CQFileUtilities::EnsurePathSeparatorAtEnd(plain);
    EXPECT_EQ(plain, L"/a/");
    std::wstring backslash = L"C:\\a\\";
    CQFileUtilities::EnsurePathSeparatorAtEnd(backslash);
    EXPECT_EQ(backslash, L"C:\\a\\");
    std::wstring chosen = L"C:\\a";
    CQFileUtilities::EnsurePathSeparatorAtEnd(chosen, L'\\');
    EXPECT_EQ(chosen, L"C:\\a\\");
}

// --- Existence, folders, moving and deleting ---

TEST(CQFileUtilities, ExistenceAndFolderTests) {
    FileTestFolder folder;
    WriteBytes(folder.Native(L"file"), "x");
    MakeFolder(folder.Native(L"dir"));
    ASSERT_EQ(::symlink("dir", folder.Native(L"linkToDir").c_str()), 0);
    ASSERT_EQ(::symlink("missing", folder.Native(L"dangling").c_str()), 0);

    EXPECT_TRUE(CQFileUtilities::FileExists(folder.Wide(L"file")));
    EXPECT_TRUE(CQFileUtilities::FileExists(folder.Wide(L"dir")));
    EXPECT_TRUE(CQFileUtilities::FileExists(folder.Wide(L"dangling"))) << "the name is taken";
    EXPECT_FALSE(CQFileUtilities::FileExists(folder.Wide(L"missing")));
    EXPECT_FALSE(CQFileUtilities::FileExists(L""));

    EXPECT_TRUE(CQFileUtilities::IsDirectory(folder.Wide(L"dir")));
    EXPECT_TRUE(CQFileUtilities::IsDirectory(folder.Wide(L"dir/")));
    EXPECT_TRUE(CQFileUtilities::IsDirectory(folder.Wide(L"linkToDir")));
    EXPECT_FALSE(CQFileUtilities::IsDirectory(folder.Wide(L"file")));
    EXPECT_FALSE(CQFileUtilities::IsDirectory(folder.Wide(L"missing")));

    EXPECT_NO_THROW(CQFileUtilities::CheckFileExists(folder.Wide(L"file")));
    const auto error = Raised([&] { CQFileUtilities::CheckFileExists(folder.Wide(L"missing")); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetHResult(), k_fileNotFound);
    EXPECT_EQ(RealEntries(*error).at(0).values.at(L"File"), folder.Wide(L"missing"));
}

TEST(CQFileUtilities, BuildDirectoryCreatesEveryLevelAndRefusesAFile) {
    FileTestFolder folder;
    CQFileUtilities::BuildDirectory(folder.Wide(L"a/b/c"));
    EXPECT_TRUE(CQFileUtilities::IsDirectory(folder.Wide(L"a/b/c")));
    EXPECT_NO_THROW(CQFileUtilities::BuildDirectory(folder.Wide(L"a/b/c/")));

    WriteBytes(folder.Native(L"plain"), "x");
    const auto onFile = Raised([&] { CQFileUtilities::BuildDirectory(folder.Wide(L"plain")); });
    ASSERT_TRUE(onFile);
    const auto entries = RealEntries(*onFile);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, QERR_CREATE_DIRECTORY);
    EXPECT_EQ(entries[0].description, L"Failed to create directory.");
    EXPECT_EQ(entries[0].values.at(L"Directory"), folder.Wide(L"plain"));
    EXPECT_EQ(ReadBytes(folder.Native(L"plain")), "x");

    const auto below = Raised([&] { CQFileUtilities::BuildDirectory(folder.Wide(L"plain/sub")); });
    ASSERT_TRUE(below);
    EXPECT_EQ(below->GetHResult(), HResultFromErrno(ENOTDIR));

    const auto empty = Raised([] { CQFileUtilities::BuildDirectory(L""); });
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->HasErrorCode(QERR_INVALID_PARAMETER));
}

TEST(CQFileUtilities, DeleteDirectoryRemovesReadOnlyTreesButNothingOutside) {
    FileTestFolder folder;
    MakeFolder(folder.Native(L"outside"));
    WriteBytes(folder.Native(L"outside/keep.txt"), "keep");

    const std::string tree = folder.Native(L"tree");
    {
        UnprivilegedScope unprivileged(folder);
        MakeFolder(tree);
        MakeFolder(tree + "/sub");
        MakeFolder(tree + "/sub/deeper");
        WriteBytes(tree + "/sub/deeper/a.txt", "a");
        WriteBytes(tree + "/readonly.txt", "r");
        ASSERT_EQ(::chmod((tree + "/readonly.txt").c_str(), 0444), 0);
        MakeFolder(tree + "/lockedFolder");
        WriteBytes(tree + "/lockedFolder/inside.txt", "i");
        ASSERT_EQ(::chmod((tree + "/lockedFolder").c_str(), 0555), 0);
        MakeFolder(tree + "/closedFolder");
        WriteBytes(tree + "/closedFolder/inside.txt", "i");
        ASSERT_EQ(::chmod((tree + "/closedFolder").c_str(), 0), 0);
        ASSERT_EQ(::symlink((folder.Native(L"outside")).c_str(), (tree + "/linkOut").c_str()), 0);
        ASSERT_EQ(::symlink((folder.Native(L"outside/keep.txt")).c_str(),
                            (tree + "/sub/fileLinkOut").c_str()),
                  0);

        EXPECT_TRUE(CQFileUtilities::DeleteDirectory(folder.Wide(L"tree")));
    }
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(ReadBytes(folder.Native(L"outside/keep.txt")), "keep");
    EXPECT_EQ(ModeOf(folder.Native(L"outside/keep.txt")) & 0200, 0200u);
}

TEST(CQFileUtilities, DeleteDirectoryRefusesLinksAndMissingFolders) {
    FileTestFolder folder;
    MakeFolder(folder.Native(L"target"));
    WriteBytes(folder.Native(L"target/keep.txt"), "keep");
    ASSERT_EQ(::symlink("target", folder.Native(L"link").c_str()), 0);

    const auto onLink = Raised([&] { CQFileUtilities::DeleteDirectory(folder.Wide(L"link")); });
    ASSERT_TRUE(onLink);
    EXPECT_EQ(onLink->GetHResult(), HResultFromErrno(ENOTDIR));
    EXPECT_EQ(RealEntries(*onLink).at(0).values.at(L"CQFileUtilities.DeleteDirectory.Path"),
              folder.Wide(L"link"));
    EXPECT_EQ(ReadBytes(folder.Native(L"target/keep.txt")), "keep");

    const auto missing = Raised([&] { CQFileUtilities::DeleteDirectory(folder.Wide(L"none")); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->GetHResult(), k_fileNotFound);

    const auto dotDot =
        Raised([&] { CQFileUtilities::DeleteDirectory(folder.Wide(L"target/..")); });
    ASSERT_TRUE(dotDot);
    EXPECT_EQ(dotDot->GetHResult(), HResultFromErrno(EINVAL));
    EXPECT_TRUE(Exists(folder.Native(L"target/keep.txt")));
}

TEST(CQFileUtilities, MoveFileReplacesTheDestinationWithoutAGap) {
    FileTestFolder folder;
    const std::string destination = folder.Native(L"queue.sav");
    WriteBytes(destination, "old");
    ASSERT_EQ(::chmod(destination.c_str(), 0444), 0);

    std::atomic<bool> moving{true};
    std::atomic<int> missing{0};
    std::thread watcher([&] {
        while (moving) {
            missing += Exists(destination) ? 0 : 1;
        }
    });
    for (int round = 0; round < 300; ++round) {
        WriteBytes(folder.Native(L"queue.sav.bak"), "round " + std::to_string(round));
        CQFileUtilities::MoveFileW(folder.Wide(L"queue.sav.bak"), folder.Wide(L"queue.sav"));
    }
    moving = false;
    watcher.join();
    EXPECT_EQ(missing, 0) << "the destination was absent while being replaced";
    EXPECT_EQ(ReadBytes(destination), "round 299");
    EXPECT_FALSE(Exists(folder.Native(L"queue.sav.bak")));
}

TEST(CQFileUtilities, MoveFileFailureNamesBothFiles) {
    FileTestFolder folder;
    const auto error =
        Raised([&] { CQFileUtilities::MoveFileW(folder.Wide(L"absent"), folder.Wide(L"there")); });
    ASSERT_TRUE(error);
    const auto entries = RealEntries(*error);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].code, k_fileNotFound);
    EXPECT_EQ(entries[1].code, QERR_MOVE_FILE);
    EXPECT_EQ(entries[1].description, L"Failed to move file.");
    EXPECT_EQ(entries[1].function, L"CQFileUtilities::MoveFileW");
    EXPECT_EQ(entries[1].values.at(L"SrcFile"), folder.Wide(L"absent"));
    EXPECT_EQ(entries[1].values.at(L"DstFile"), folder.Wide(L"there"));
}

TEST(CQFileUtilities, DeleteFileRemovesReadOnlyFilesAndLinksOnly) {
    FileTestFolder folder;
    WriteBytes(folder.Native(L"target"), "t");
    ASSERT_EQ(::chmod(folder.Native(L"target").c_str(), 0444), 0);
    ASSERT_EQ(::link(folder.Native(L"target").c_str(), folder.Native(L"hardlink").c_str()), 0);
    ASSERT_EQ(::symlink("target", folder.Native(L"symlink").c_str()), 0);

    CQFileUtilities::DeleteFileW(folder.Wide(L"symlink"));
    EXPECT_FALSE(Exists(folder.Native(L"symlink")));
    CQFileUtilities::DeleteFileW(folder.Wide(L"hardlink"));
    EXPECT_FALSE(Exists(folder.Native(L"hardlink")));
    EXPECT_EQ(ModeOf(folder.Native(L"target")), 0444u) << "the other link keeps its mode";
    CQFileUtilities::DeleteFileW(folder.Wide(L"target"));
    EXPECT_FALSE(Exists(folder.Native(L"target")));

    const auto missing = Raised([&] { CQFileUtilities::DeleteFileW(folder.Wide(L"target")); });
    ASSERT_TRUE(missing);
    const auto missingEntries = RealEntries(*missing);
    ASSERT_EQ(missingEntries.size(), 1u);
    EXPECT_EQ(missingEntries[0].code, ENOENT) << "the C library's error number";
    EXPECT_EQ(missingEntries[0].description, L"No such file or directory");

    MakeFolder(folder.Native(L"dir"));
    const auto onFolder = Raised([&] { CQFileUtilities::DeleteFileW(folder.Wide(L"dir")); });
    ASSERT_TRUE(onFolder);
    const auto folderEntries = RealEntries(*onFolder);
    ASSERT_EQ(folderEntries.size(), 2u);
    EXPECT_EQ(folderEntries[0].code, HResultFromErrno(EISDIR));
    EXPECT_EQ(folderEntries[1].code, QERR_DELETE_FILE);
    EXPECT_EQ(folderEntries[1].values.at(L"File"), folder.Wide(L"dir"));
}

TEST(CQFileUtilities, SetFileReadonlyGivesWriteAccessButLeavesLinkTargets) {
    FileTestFolder folder;
    WriteBytes(folder.Native(L"file"), "f");
    ASSERT_EQ(::chmod(folder.Native(L"file").c_str(), 0444), 0);
    WriteBytes(folder.Native(L"target"), "t");
    ASSERT_EQ(::chmod(folder.Native(L"target").c_str(), 0440), 0);
    ASSERT_EQ(::symlink("target", folder.Native(L"link").c_str()), 0);

    CQFileUtilities::SetFileReadonly(folder.Wide(L"file"));
    EXPECT_EQ(ModeOf(folder.Native(L"file")), 0644u);
    CQFileUtilities::SetFileReadonly(folder.Wide(L"link"));
    EXPECT_EQ(ModeOf(folder.Native(L"target")), 0440u);
    const auto missing = Raised([&] { CQFileUtilities::SetFileReadonly(folder.Wide(L"none")); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(RealEntries(*missing).at(0).code, ENOENT);
}

TEST(CQFileUtilities, MakeFilenameUniqueCountsUpFromOne) {
    FileTestFolder folder;
    std::wstring free = folder.Wide(L"clip.mp4");
    CQFileUtilities::MakeFilenameUnique(free);
    EXPECT_EQ(free, folder.Wide(L"clip.mp4"));

    WriteBytes(folder.Native(L"a.txt"), "");
    WriteBytes(folder.Native(L"a[1].txt"), "");
    std::wstring taken = folder.Wide(L"a.txt");
    CQFileUtilities::MakeFilenameUnique(taken);
    EXPECT_EQ(taken, folder.Wide(L"a[2].txt"));

    WriteBytes(folder.Native(L".profile"), "");
    std::wstring dotFile = folder.Wide(L".profile");
    CQFileUtilities::MakeFilenameUnique(dotFile);
    EXPECT_EQ(dotFile, folder.Wide(L".profile[1]"));

    const auto noName = Raised([&] {
        std::wstring path = folder.Path() + L"/";
        CQFileUtilities::MakeFilenameUnique(path);
    });
    ASSERT_TRUE(noName);
    EXPECT_TRUE(noName->HasErrorCode(QERR_INVALID_PARAMETER));
}

TEST(CQFileUtilities, MakeFilenameUniqueWorksForANameWithoutFolder) {
    FileTestFolder folder;
    const std::string previous = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(folder.Native(L"").c_str()), 0);
    WriteBytes("clip.mp4", "");
    std::wstring name = L"clip.mp4";
    CQFileUtilities::MakeFilenameUnique(name);
    ASSERT_EQ(::chdir(previous.c_str()), 0);
    EXPECT_EQ(name, L"clip[1].mp4");
}

TEST(CQFileUtilities, MakeFilenameUniqueKeepsNamesWithinTheSystemLimit) {
    FileTestFolder folder;
    std::wstring longName = folder.Wide(std::wstring(300, L'a') + L".txt");
    CQFileUtilities::MakeFilenameUnique(longName);
    const std::wstring cut = std::wstring(250, L'a') + L"~.txt";
    EXPECT_EQ(longName, folder.Wide(cut));
    WriteBytes(qsys::ToUtf8(longName), "");

    std::wstring again = folder.Wide(std::wstring(300, L'a') + L".txt");
    CQFileUtilities::MakeFilenameUnique(again);
    EXPECT_EQ(again, folder.Wide(std::wstring(247, L'a') + L"~[1].txt"));
    WriteBytes(qsys::ToUtf8(again), "");

    // Characters of two bytes: the limit is 255 bytes, so 126 of them and the mark.
    std::wstring wide = folder.Wide(std::wstring(200, L'\u00E9') + L".mp4");
    CQFileUtilities::MakeFilenameUnique(wide);
    EXPECT_EQ(wide, folder.Wide(std::wstring(125, L'\u00E9') + L"~.mp4"));
    EXPECT_LE(qsys::ToUtf8(CQFileUtilities::GetFilenameFromPath(wide)).size(), 255u);
    EXPECT_NO_THROW(WriteBytes(qsys::ToUtf8(wide), "")) << "the system accepts the name";

    // An "extension" longer than a name can be is cut like the rest.
    std::wstring allExtension = folder.Wide(L"x." + std::wstring(300, L'b'));
    CQFileUtilities::MakeFilenameUnique(allExtension);
    EXPECT_EQ(qsys::ToUtf8(CQFileUtilities::GetFilenameFromPath(allExtension)).size(), 255u);
    EXPECT_NO_THROW(WriteBytes(qsys::ToUtf8(allExtension), ""));
}

TEST(CQFileUtilities, FileSizeIsSixtyFourBitAndZeroWhenUnreadable) {
    FileTestFolder folder;
    const std::string big = folder.Native(L"big.bin");
    WriteBytes(big, "");
    const uint64_t size = (uint64_t{5} << 30) + 7;  // sparse: takes no space
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(size)), 0);
    EXPECT_EQ(CQFileUtilities::GetFileSize(folder.Wide(L"big.bin")), size);
    EXPECT_EQ(CQFileUtilities::GetFileSize(folder.Wide(L"missing")), 0u);
    EXPECT_EQ(CQFileUtilities::GetFileSize(folder.Path()), 0u);
}

TEST(CQFileUtilities, FileTimeIsTheLastWriteAsAnAutomationDate) {
    FileTestFolder folder;
    WriteBytes(folder.Native(L"dated"), "d");
    // 2020-01-02 03:04:05 UTC and half a second, which the whole-second date leaves out.
    const timespec times[2] = {{1577934245, 0}, {1577934245, 500000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, folder.Native(L"dated").c_str(), times, 0), 0);
    const double expected = 43832.0 + (3 * 3600 + 4 * 60 + 5) / 86400.0;
    EXPECT_DOUBLE_EQ(CQFileUtilities::GetFileTime(folder.Wide(L"dated")), expected);

    const auto missing = Raised([&] { CQFileUtilities::GetFileTime(folder.Wide(L"none")); });
    ASSERT_TRUE(missing);
    const auto entries = RealEntries(*missing);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].code, k_fileNotFound);
    EXPECT_EQ(entries[1].code, QERR_OPEN_FILE);
    EXPECT_EQ(entries[1].values.at(L"File"), folder.Wide(L"none"));
}

// --- Text files ---

TEST(CQFileUtilities, EveryEncodingWritesItsMarkAndReadsBack) {
    FileTestFolder folder;
    const std::wstring text = L"Gr\u00FC\u00DFe \u20AC\r\nline \U0001F3AC";
    struct Case {
        EQTextEncoding encoding;
        std::string mark;
    };
    const Case cases[] = {{EQTextEncoding_Ansi, ""},
                          {EQTextEncoding_Utf16LE, "\xFF\xFE"},
                          {EQTextEncoding_Utf16BE, "\xFE\xFF"},
                          {EQTextEncoding_Utf8, "\xEF\xBB\xBF"}};
    for (const Case& c : cases) {
        const std::wstring path = folder.Wide(L"text" + std::to_wstring(c.encoding) + L".txt");
        CQFileUtilities::WriteTextFile(path, text, false, c.encoding);
        const std::string bytes = ReadBytes(qsys::ToUtf8(path));
        EXPECT_EQ(bytes.substr(0, c.mark.size()), c.mark) << c.encoding;
        EXPECT_EQ(CQFileUtilities::ReadTextFile(path), text) << c.encoding;
    }
    EXPECT_EQ(ReadBytes(folder.Native(L"text1.txt")), qsys::ToUtf8(text)) << "ANSI is UTF-8";
    EXPECT_EQ(ReadBytes(folder.Native(L"text2.txt")).size(), 2 + 2 * 16u);
}

TEST(CQFileUtilities, UnmarkedFilesAreTakenAsTheyMostLikelyAre) {
    FileTestFolder folder;
    const auto read = [&](const std::string& bytes) {
        WriteBytes(folder.Native(L"plain.txt"), bytes);
        return CQFileUtilities::ReadTextFile(folder.Wide(L"plain.txt"));
    };
    EXPECT_EQ(read("plain ASCII\r\n"), L"plain ASCII\r\n");
    EXPECT_EQ(read("Bush hid the facts"), L"Bush hid the facts")
        << "even-length ASCII is no UTF-16";
    EXPECT_EQ(read("\xD0\x9F\xD1\x80\xD0\xB8"), L"\u041F\u0440\u0438") << "UTF-8 as ANSI";
    EXPECT_EQ(read(qsys::ToUtf16(L"little end\n", qsys::ByteOrder::LittleEndian)), L"little end\n");
    EXPECT_EQ(read(qsys::ToUtf16(L"big end\n", qsys::ByteOrder::BigEndian)), L"big end\n");
    const std::wstring russian = L"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440\n";
    EXPECT_EQ(read(qsys::ToUtf16(russian, qsys::ByteOrder::LittleEndian)), russian);
    EXPECT_EQ(read(std::string("A\0", 2)), L"A");
    EXPECT_EQ(read(std::string("ab\0", 3)), std::wstring(L"ab\0", 3)) << "odd length";
    EXPECT_EQ(read(""), L"");
}

// A file that is no UTF-8 must not read as empty: a read-modify-write would wipe it.
TEST(CQFileUtilities, TextThatIsNoUtf8ReadsAsLatin1AndSurvivesRewriting) {
    FileTestFolder folder;
    WriteBytes(folder.Native(L"marked.txt"), "\xEF\xBB\xBFok \xC3\x28 bad");
    EXPECT_EQ(CQFileUtilities::ReadTextFile(folder.Wide(L"marked.txt")), L"ok \u00C3( bad");
    WriteBytes(folder.Native(L"unmarked.txt"), "caf\xE9 \x80\xFF");
    const std::wstring read = CQFileUtilities::ReadTextFile(folder.Wide(L"unmarked.txt"));
    EXPECT_EQ(read, L"caf\u00E9 \u0080\u00FF");
    CQFileUtilities::WriteTextFile(folder.Wide(L"unmarked.txt"), read + L"!", false,
                                   EQTextEncoding_Ansi);
    EXPECT_EQ(CQFileUtilities::ReadTextFile(folder.Wide(L"unmarked.txt")), read + L"!");
    WriteBytes(folder.Native(L"onlyMark.txt"), "\xEF\xBB\xBF");
    EXPECT_EQ(CQFileUtilities::ReadTextFile(folder.Wide(L"onlyMark.txt")), L"");
    WriteBytes(folder.Native(L"oddUtf16.txt"), std::string("\xFF\xFE"
                                                           "A\0B",
                                                           5));
    EXPECT_EQ(CQFileUtilities::ReadTextFile(folder.Wide(L"oddUtf16.txt")), L"A")
        << "an odd last byte is dropped";
}

TEST(CQFileUtilities, AppendWritesAMarkOnlyIntoANewOrEmptyFile) {
    FileTestFolder folder;
    const std::wstring path = folder.Wide(L"logs/new/server.log");
    CQFileUtilities::WriteTextFile(path, L"one\r\n", true, EQTextEncoding_Utf16LE);
    CQFileUtilities::WriteTextFile(path, L"two\r\n", true, EQTextEncoding_Utf16LE);
    EXPECT_EQ(ReadBytes(qsys::ToUtf8(path)),
              "\xFF\xFE" + qsys::ToUtf16(L"one\r\ntwo\r\n", qsys::ByteOrder::LittleEndian));

    WriteBytes(folder.Native(L"empty.txt"), "");
    CQFileUtilities::WriteTextFile(folder.Wide(L"empty.txt"), L"x", true, EQTextEncoding_Utf8);
    EXPECT_EQ(ReadBytes(folder.Native(L"empty.txt")), "\xEF\xBB\xBFx");

    WriteBytes(folder.Native(L"some.txt"), "abc");
    CQFileUtilities::WriteTextFile(folder.Wide(L"some.txt"), L"d", true, EQTextEncoding_Utf8);
    EXPECT_EQ(ReadBytes(folder.Native(L"some.txt")), "abcd");
}

TEST(CQFileUtilities, ReplacingWritesThroughLinksAndRespectsReadOnlyFiles) {
    FileTestFolder folder;
    WriteBytes(folder.Native(L"real.txt"), "old");
    ASSERT_EQ(::chmod(folder.Native(L"real.txt").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.txt", folder.Native(L"link.txt").c_str()), 0);
    CQFileUtilities::WriteTextFile(folder.Wide(L"link.txt"), L"new", false, EQTextEncoding_Ansi);
    EXPECT_EQ(ReadBytes(folder.Native(L"real.txt")), "new");
    EXPECT_EQ(ModeOf(folder.Native(L"real.txt")), 0640u) << "the file keeps its mode";
    struct stat link {};
    ASSERT_EQ(::lstat(folder.Native(L"link.txt").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));

    const std::wstring longest = folder.Wide(std::wstring(251, L'n') + L".txt");
    CQFileUtilities::WriteTextFile(longest, L"first", false, EQTextEncoding_Ansi);
    CQFileUtilities::WriteTextFile(longest, L"second", false, EQTextEncoding_Ansi);
    EXPECT_EQ(ReadBytes(qsys::ToUtf8(longest)), "second") << "a name of 255 bytes is replaced";

    UnprivilegedScope unprivileged(folder);
    WriteBytes(folder.Native(L"locked.txt"), "locked");
    ASSERT_EQ(::chmod(folder.Native(L"locked.txt").c_str(), 0444), 0);
    const auto error = Raised([&] {
        CQFileUtilities::WriteTextFile(folder.Wide(L"locked.txt"), L"x", false,
                                       EQTextEncoding_Utf8);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetHResult(), E_ACCESSDENIED);
    EXPECT_EQ(ReadBytes(folder.Native(L"locked.txt")), "locked");
}

TEST(CQFileUtilities, AFailedWriteLeavesTheOldContent) {
    FileTestFolder folder;
    const std::wstring path = folder.Wide(L"queue.sav");
    CQFileUtilities::WriteTextFile(path, L"saved", false, EQTextEncoding_Utf8);
    const std::string saved = ReadBytes(qsys::ToUtf8(path));
    const std::wstring longText(4096, L'x');

    {
        ScopedWriteFailure full(
            [&](const std::wstring& written) { return written == path ? ENOSPC : 0; });
        const auto error = Raised(
            [&] { CQFileUtilities::WriteTextFile(path, longText, false, EQTextEncoding_Utf8); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetHResult(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
        const auto entries = RealEntries(*error);
        EXPECT_EQ(entries.at(0).values.at(L"Filename"), path);
        EXPECT_EQ(entries.at(0).values.at(L"Content"), longText);
        CQFileUtilities::WriteTextFile(folder.Wide(L"other.txt"), L"fine", false,
                                       EQTextEncoding_Utf8);
    }
    EXPECT_EQ(ReadBytes(qsys::ToUtf8(path)), saved);

    // A real limit on the file size: the replacement fails part way, the old file stays.
    {
        ScopedFileSizeLimit limit(100);
        const auto error = Raised(
            [&] { CQFileUtilities::WriteTextFile(path, longText, false, EQTextEncoding_Utf8); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetHResult(), HResultFromErrno(EFBIG));
    }
    EXPECT_EQ(ReadBytes(qsys::ToUtf8(path)), saved);

    // Appending that fails part way cuts the file back: no torn text stays behind.
    {
        ScopedFileSizeLimit limit(saved.size() + 10);
        const auto error = Raised(
            [&] { CQFileUtilities::WriteTextFile(path, longText, true, EQTextEncoding_Utf8); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetHResult(), HResultFromErrno(EFBIG));
    }
    EXPECT_EQ(ReadBytes(qsys::ToUtf8(path)), saved);
    const auto entries = std::filesystem::directory_iterator(folder.Native(L""));
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 2) << "no temporary file is left";
}

TEST(CQFileUtilities, ErrorsOfAWriteCarryAShortenedContent) {
    FileTestFolder folder;
    MakeFolder(folder.Native(L"taken"));
    const std::wstring text(CQFileUtilities::k_maxContentInError + 100, L'y');
    const auto error = Raised([&] {
        CQFileUtilities::WriteTextFile(folder.Wide(L"taken"), text, false, EQTextEncoding_Utf8);
    });
    ASSERT_TRUE(error);
    const auto entries = RealEntries(*error);
    EXPECT_EQ(entries.at(0).values.at(L"Content"),
              std::wstring(CQFileUtilities::k_maxContentInError, L'y') + L"...");

    const auto badEncoding = Raised([&] {
        CQFileUtilities::WriteTextFile(folder.Wide(L"x.txt"), L"x", false,
                                       static_cast<EQTextEncoding>(7));
    });
    ASSERT_TRUE(badEncoding);
    EXPECT_TRUE(badEncoding->HasErrorCode(QERR_INVALID_PARAMETER));
    EXPECT_FALSE(Exists(folder.Native(L"x.txt")));
}

TEST(CQFileUtilities, ReadTextFileRefusesWhatIsNoSaneTextFile) {
    FileTestFolder folder;
    const auto errorOf = [](const std::wstring& path) {
        const auto error = Raised([&] { CQFileUtilities::ReadTextFile(path); });
        EXPECT_TRUE(error) << "no error for " << qsys::ToUtf8(path);
        if (error) {
            EXPECT_EQ(RealEntries(*error).at(0).values.at(L"Filename"), path);
        }
        return error ? error->GetHResult() : S_OK;
    };
    EXPECT_EQ(errorOf(folder.Wide(L"missing")), k_fileNotFound);
    EXPECT_EQ(errorOf(folder.Path()), HResultFromErrno(EISDIR));

    ASSERT_EQ(::mkfifo(folder.Native(L"fifo").c_str(), 0600), 0);
    EXPECT_EQ(errorOf(folder.Wide(L"fifo")), HResultFromErrno(EINVAL)) << "and it did not wait";

    const std::string huge = folder.Native(L"huge.txt");
    WriteBytes(huge, "");
    ASSERT_EQ(::truncate(huge.c_str(), CQFileUtilities::k_maxTextFileSize + 1), 0);
    EXPECT_EQ(errorOf(folder.Wide(L"huge.txt")), HResultFromErrno(EFBIG));
}

TEST(CQFileUtilities, StringToFileContentAppendsToTheBuffer) {
    CQBufMalloc buffer;
    buffer.Copy("head", 4);
    CQFileUtilities::StringToFileContent(buffer, L"\u00E9", EQTextEncoding_Utf16BE, true);
    CQFileUtilities::StringToFileContent(buffer, L"\u00E9", EQTextEncoding_Utf8, false);
    const std::string bytes(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize());
    EXPECT_EQ(bytes, std::string("head\xFE\xFF\x00\xE9\xC3\xA9", 10));
}

// --- Folders of the user ---

TEST(CQFileUtilities, UserFolders) {
    FileTestFolder folder;
    MakeFolder(folder.Native(L"real"));
    ASSERT_EQ(::symlink("real", folder.Native(L"tmplink").c_str()), 0);
    {
        ScopedVariable tmp("TMPDIR", folder.Native(L"tmplink").c_str());
        EXPECT_EQ(CQFileUtilities::GetTempDirectory(), folder.Wide(L"real/"));
    }
    {
        ScopedVariable tmp("TMPDIR", nullptr);
        EXPECT_EQ(CQFileUtilities::GetTempDirectory(), L"/tmp/");
    }
    {
        ScopedVariable data("XDG_DATA_HOME", folder.Native(L"data/").c_str());
        EXPECT_EQ(CQFileUtilities::SHGetFolder(), folder.Wide(L"data"));
    }
    {
        ScopedVariable data("XDG_DATA_HOME", nullptr);
        ScopedVariable home("HOME", "/home/someone");
        EXPECT_EQ(CQFileUtilities::SHGetFolder(), L"/home/someone/.local/share");
    }
    EXPECT_EQ(CQFileUtilities::GetLongFilePath(folder.Wide(L"tmplink/../real")),
              folder.Wide(L"real"));
    EXPECT_EQ(CQFileUtilities::GetLongFilePath(folder.Wide(L"not/there")),
              folder.Wide(L"not/there"));
    bool succeeded = true;
    EXPECT_EQ(CQFileUtilities::GetShortFilePath(folder.Wide(L"real"), &succeeded),
              folder.Wide(L"real"));
    EXPECT_FALSE(succeeded);
}
