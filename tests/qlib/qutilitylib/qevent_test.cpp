// CQEvent: manual and auto reset, the first wait of an event that was never initialised,
// events shared by name, and the errors of events that do not exist.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "qlib/qsys/namedevent.h"
#include "qlib/qutilitylib/qevent.h"
#include "qlib/qutilitylib/qsystem.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;

namespace {

using namespace std::chrono_literals;

bool IsSignalled(CQEvent& event) {
    return event.GetHandle()->Wait(0ms) == qsys::WaitStatus::Signaled;
}

// A named event that is removed again when the test ends (named events outlive processes).
class ScopedEventName {
public:
    explicit ScopedEventName(const std::wstring& stem)
        : m_name(stem + L" " + std::to_wstring(::getpid())) {}
    ~ScopedEventName() {
        std::wstring kernelName = m_name;
        CQSystem::MakeKernelObjectName(kernelName, false);
        qsys::NamedEvent::Remove(kernelName);
    }
    const std::wstring& Name() const { return m_name; }

private:
    std::wstring m_name;
};

}  // namespace

TEST(CQEvent, FirstWaitOfAnEventNeverInitialisedReturnsAtOnce) {
    CQEvent event;
    EXPECT_TRUE(event.WaitForEvent());
    EXPECT_FALSE(IsSignalled(event)) << "auto-reset: the wait took the signal";
}

TEST(CQEvent, ManualResetStaysSignalledUntilReset) {
    CQEvent event;
    event.Init(true, false, L"");
    EXPECT_FALSE(IsSignalled(event));
    event.SetEvent();
    EXPECT_TRUE(event.WaitForEvent());
    EXPECT_TRUE(event.WaitForEvent());
    event.ResetEvent();
    EXPECT_FALSE(IsSignalled(event));
}

TEST(CQEvent, NamedEventsOfOneNameAreOneEvent) {
    const ScopedEventName name(L"qevent test");
    CQEvent first;
    CQEvent second;
    first.Init(false, false, name.Name());
    second.Init(false, false, name.Name());
    first.SetEvent();
    EXPECT_TRUE(second.WaitForEvent());
    EXPECT_FALSE(IsSignalled(first));
}

TEST(CQEvent, EventsThatDoNotExistRaise) {
    CQEvent event;
    const auto notInitialised = Raised([&] { event.SetEvent(); });
    ASSERT_TRUE(notInitialised.has_value());
    EXPECT_TRUE(notInitialised->HasErrorCode(QERR_NOT_INITIALIZED));
    EXPECT_EQ(event.GetHandle(), nullptr);

    const auto manualNamed = Raised([&] { event.Init(true, false, L"manual"); });
    ASSERT_TRUE(manualNamed.has_value());
    const auto entries = RealEntries(*manualNamed);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].code, QERR_INVALID_PARAMETER);
    EXPECT_EQ(entries[0].values.at(L"EventName"), L"manual");
}
