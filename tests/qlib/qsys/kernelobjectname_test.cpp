#include "qlib/qsys/kernelobjectname.h"

#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include <gtest/gtest.h>

#include "tests/qlib/qsys/testsupport.h"

namespace qsys {
namespace {

TEST(KernelObjectName, NamespacePrefixesAreRecognisedInAnyCase) {
    EXPECT_EQ(KernelObjectName::Parse(L"Global\\Close").Namespace(), KernelNamespace::Global);
    EXPECT_EQ(KernelObjectName::Parse(L"GLOBAL\\Close").Name(), L"Close");
    EXPECT_EQ(KernelObjectName::Parse(L"Local\\Close").Namespace(), KernelNamespace::User);
    EXPECT_EQ(KernelObjectName::Parse(L"Local\\Close").Name(), L"Close");
    EXPECT_EQ(KernelObjectName::Parse(L"Close").Namespace(), KernelNamespace::User);
    EXPECT_EQ(KernelObjectName::Parse(L"Globalx\\Close").Name(), L"Globalx\\Close");
    for (const wchar_t* empty : {L"", L"Global\\", L"local\\"}) {
        EXPECT_THROW(KernelObjectName::Parse(empty), std::system_error) << empty;
    }
}

TEST(KernelObjectName, AnyTextBecomesADistinctSafeFileName) {
    EXPECT_EQ(KernelObjectName::Encode(L"VTRANSCODESERVERCLOSE", 200), "VTRANSCODESERVERCLOSE");
    EXPECT_EQ(KernelObjectName::Encode(L"a-b_c.d", 200), "a-b_c.d");
    EXPECT_EQ(KernelObjectName::Encode(L"/tmp/x y", 200), "%2Ftmp%2Fx%20y");
    EXPECT_EQ(KernelObjectName::Encode(L"..", 200), "%2E.");
    EXPECT_EQ(KernelObjectName::Encode(L"\u00e9%", 200), "%C3%A9%25");
    EXPECT_NE(KernelObjectName::Encode(L"a/b", 200), KernelObjectName::Encode(L"a%2Fb", 200));
}

TEST(KernelObjectName, LongNamesAreCutWithAHashOfTheWholeName) {
    const std::wstring tail(400, L'x');
    const std::string first = KernelObjectName::Encode(L"A" + tail, 100);
    const std::string second = KernelObjectName::Encode(L"B" + tail, 100);
    EXPECT_EQ(first.size(), 100u);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.substr(0, 10), "Axxxxxxxxx");

    const std::string semaphore =
        KernelObjectName::Parse(L"Global\\" + std::wstring(300, L'/')).SemaphoreName();
    EXPECT_LE(semaphore.size(), 252u);
    EXPECT_EQ(semaphore.find('/', 1), std::string::npos);
    EXPECT_TRUE(semaphore.starts_with("/zelto-global-%2F"));
    EXPECT_TRUE(KernelObjectName::Parse(L"x").SemaphoreName().starts_with(
        "/zelto-" + std::to_string(::geteuid()) + "-"));
}

TEST(KernelObjectName, TheUsersFolderIsPrivateAndNoLinkIsFollowed) {
    test::TemporaryFolder runtime;
    {
        const test::ScopedEnvironment variable("XDG_RUNTIME_DIR", runtime.Path());
        const std::string path = KernelObjectName::Parse(L"Local\\My Mutex").LockFilePath(".mutex");
        EXPECT_EQ(path, runtime.Path() + "/zelto/My%20Mutex.mutex");
        struct stat status {};
        ASSERT_EQ(::stat((runtime.Path() + "/zelto").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0700u);
    }
    test::TemporaryFolder elsewhere;
    const test::ScopedEnvironment variable("XDG_RUNTIME_DIR", elsewhere.Path());
    ASSERT_EQ(::symlink(runtime.Path().c_str(), (elsewhere.Path() + "/zelto").c_str()), 0);
    try {
        KernelObjectName::Folder(KernelNamespace::User);
        FAIL() << "a link was accepted as the runtime folder";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EACCES);
    }
}

// Whether folder is refused for the namespace (EACCES); other failures fail the test.
bool Refused(const std::string& folder, KernelNamespace space) {
    try {
        KernelObjectName::CheckFolder(folder, space);
        return false;
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EACCES) << error.what();
        return true;
    }
}

// A folder in a shared place is trusted only when no other user can have planted it or can
// remove the files in it.
TEST(KernelObjectName, FoldersOfOtherOwnersOrOpenToOthersAreRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving folders to other users needs root";
    }
    constexpr uid_t k_otherUser = 65534;
    test::TemporaryFolder root;
    const auto folder = [&](const std::string& name, mode_t mode, uid_t owner) {
        const std::string path = root.Path() + "/" + name;
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0);
        EXPECT_EQ(::chown(path.c_str(), owner, owner), 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    };
    EXPECT_TRUE(Refused(folder("planted", 01777, k_otherUser), KernelNamespace::Global));
    EXPECT_TRUE(Refused(folder("plantedPrivate", 0700, k_otherUser), KernelNamespace::User));
    EXPECT_FALSE(Refused(folder("rootShared", 01777, 0), KernelNamespace::Global));
    EXPECT_FALSE(Refused(folder("rootClosed", 0755, 0), KernelNamespace::Global))
        << "nobody else may write to it";

    // Ours (root's here) with the wrong mode is repaired rather than refused.
    const std::string open = folder("open", 0777, ::geteuid());
    EXPECT_FALSE(Refused(open, KernelNamespace::Global));
    struct stat status {};
    ASSERT_EQ(::stat(open.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 01777u);
}

TEST(KernelObjectName, TheRuntimeFolderMustBeOursAndClosed) {
    test::TemporaryFolder runtime;
    const test::ScopedEnvironment variable("XDG_RUNTIME_DIR", runtime.Path());
    ASSERT_EQ(::chmod(runtime.Path().c_str(), 0755), 0);
    EXPECT_THROW(KernelObjectName::Folder(KernelNamespace::User), std::system_error)
        << "others may enter the runtime folder";
    ASSERT_EQ(::chmod(runtime.Path().c_str(), 0700), 0);
    EXPECT_NO_THROW(KernelObjectName::Folder(KernelNamespace::User));
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(runtime.Path().c_str(), 65534, 65534), 0);
        EXPECT_THROW(KernelObjectName::Folder(KernelNamespace::User), std::system_error)
            << "another user's runtime folder";
        ASSERT_EQ(::chown(runtime.Path().c_str(), 0, 0), 0);
    }
}

}  // namespace
}  // namespace qsys
