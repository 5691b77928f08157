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

}  // namespace
}  // namespace qsys
