#include "qlib/qutilitylib/qcatch.h"

#include <source_location>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "qlib/qutilitylib/qstring.h"
#include "tests/qlib/qutilitylib/logtestsupport.h"

namespace {

constexpr IID k_iidService{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr CLSID k_clsidService{0x44444444, 0x5555, 0x6666, {8, 7, 6, 5, 4, 3, 2, 1}};

const std::wstring k_thisFile =
    CQStringHelper::MultiByteToString(std::source_location::current().file_name());

std::wstring Child(const CQXMLElement& entry, std::wstring_view name) {
    const CQXMLElement* child = entry.FindChild(name);
    return child != nullptr ? child->GetText() : L"<missing>";
}

const CQXMLElement& Entry(const CQException& exception, size_t index) {
    return *exception.GetElement().GetChildren().at(index);
}

// A server-side class with an interface method and an internal half.
class CVTestService {
public:
    int m_raiseLine = 0;
    int m_boundaryLine = 0;

    HRESULT Add(long priority, long* jobId) {
        // clang-format off
        m_boundaryLine = __LINE__; return CQCatch::Interface(k_iidService, k_clsidService, [&] {
            *jobId = -1;
            AddImpl(priority);
            *jobId = 5;
            return S_OK;
        });
        // clang-format on
    }

    HRESULT Succeed(HRESULT result) {
        return CQCatch::Interface(k_iidService, k_clsidService, [&] { return result; });
    }

    HRESULT Nothing() {
        return CQCatch::Interface(k_iidService, k_clsidService, [] {});
    }

private:
    void AddImpl(long priority) {
        if (priority < 0) {
            m_raiseLine = __LINE__ + 1;
            throw CQException(QERR_INVALID_PARAMETER);
        }
    }
};

// A caller in another object: converts the failed call and passes it on.
class CVTestClient {
public:
    int m_boundaryLine = 0;

    void Run(CVTestService& service) {
        // clang-format off
        m_boundaryLine = __LINE__; CQCatch::Internal([&] {
            long jobId = 0;
            ThrowIfFailed(service.Add(-1, &jobId));
        });
        // clang-format on
    }
};

template <typename T>
class CVEventDispatcher {
public:
    int m_line = 0;

    void DispatchEvent() {
        // clang-format off
        m_line = __LINE__; CQCatch::Internal([&] { throw CQException(L"no sink", 7); });
        // clang-format on
    }
};

// Runs thrower inside an internal boundary and returns what leaves it.
template <typename Thrower>
CQException Translated(Thrower thrower, int& line) {
    try {
        // clang-format off
        line = __LINE__; CQCatch::Internal(thrower);
        // clang-format on
    } catch (const CQException& exception) {
        return exception;
    }
    ADD_FAILURE() << "nothing was thrown";
    return CQException();
}

struct ResolverReset {
    ~ResolverReset() { CQCatch::SetProgIdResolver(nullptr); }
};

}  // namespace

TEST(CQCatch, InterfaceBoundaryReturnsQExceptionWithTheXmlAsErrorInfo) {
    ClearErrorInfo();
    CVTestService service;
    long jobId = 0;
    EXPECT_EQ(service.Add(-1, &jobId), MakeHResult(0x80045D53));
    EXPECT_EQ(jobId, -1) << "output parameters keep what the body had set";

    const std::optional<ErrorInfo> info = GetErrorInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->interfaceId, k_iidService);
    EXPECT_EQ(info->source, L"") << "no resolver installed: empty source";

    CQXMLElement error;
    SQXMLParseState state;
    ASSERT_TRUE(error.Parse(info->description, state)) << state.errorText;
    ASSERT_EQ(error.GetChildren().size(), 2u);
    const CQXMLElement& raise = *error.GetChildren()[0];
    EXPECT_EQ(Child(raise, L"description"), L"Invalid function parameter.");
    EXPECT_EQ(Child(raise, L"errorcode"), L"1010");
    EXPECT_EQ(Child(raise, L"sourcefile"), k_thisFile);
    EXPECT_EQ(Child(raise, L"sourceline"), std::to_wstring(service.m_raiseLine));
    EXPECT_EQ(Child(raise, L"sourcefunction"), L"{anonymous}::CVTestService::AddImpl");
    const CQXMLElement& trace = *error.GetChildren()[1];
    EXPECT_EQ(Child(trace, L"description"), L"Stacktrace.");
    EXPECT_EQ(Child(trace, L"errorcode"), L"1005");
    EXPECT_EQ(Child(trace, L"sourceline"), std::to_wstring(service.m_boundaryLine));
    EXPECT_EQ(Child(trace, L"sourcefunction"), L"{anonymous}::CVTestService::Add");
}

TEST(CQCatch, InterfaceBoundaryNamesTheClassByItsProgId) {
    const ResolverReset reset;
    CQCatch::SetProgIdResolver([](const CLSID& clsid) {
        return clsid == k_clsidService ? std::wstring(L"VTest.Service.1") : std::wstring();
    });
    CVTestService service;
    long jobId = 0;
    EXPECT_EQ(service.Add(-1, &jobId), E_QEXCEPTION);
    EXPECT_EQ(GetErrorInfo().value().source, L"VTest.Service.1");

    CQCatch::SetProgIdResolver([](const CLSID&) -> std::wstring { throw std::runtime_error("x"); });
    EXPECT_EQ(service.Add(-1, &jobId), E_QEXCEPTION);
    EXPECT_EQ(GetErrorInfo().value().source, L"");
}

TEST(CQCatch, InterfaceBoundaryPassesSuccessThrough) {
    ClearErrorInfo();
    CVTestService service;
    long jobId = 0;
    EXPECT_EQ(service.Add(3, &jobId), S_OK);
    EXPECT_EQ(jobId, 5);
    EXPECT_EQ(service.Succeed(S_FALSE), S_FALSE);
    EXPECT_EQ(service.Succeed(E_NOTIMPL), E_NOTIMPL) << "a returned failure is the body's own";
    EXPECT_EQ(service.Nothing(), S_OK);
    EXPECT_EQ(GetErrorInfo(), std::nullopt);
}

TEST(CQCatch, CallerRebuildsTheExceptionAndAddsItsOwnTraceEntry) {
    CVTestService service;
    CVTestClient client;
    try {
        client.Run(service);
        FAIL() << "nothing was thrown";
    } catch (const CQException& exception) {
        ASSERT_EQ(exception.GetElement().GetChildren().size(), 3u) << exception.GetXML();
        EXPECT_EQ(Child(Entry(exception, 0), L"errorcode"), L"1010");
        EXPECT_EQ(Child(Entry(exception, 1), L"description"), L"Stacktrace.");
        const CQXMLElement& own = Entry(exception, 2);
        EXPECT_EQ(Child(own, L"description"), L"");
        EXPECT_EQ(Child(own, L"errorcode"), L"1005");
        EXPECT_EQ(Child(own, L"sourceline"), std::to_wstring(client.m_boundaryLine));
        EXPECT_EQ(Child(own, L"sourcefunction"), L"{anonymous}::CVTestClient::Run");
        EXPECT_EQ(exception.GetHResult(), E_FAIL);
        EXPECT_TRUE(exception.HasErrorCode(QERR_INVALID_PARAMETER));
    }
}

TEST(CQCatch, ForeignComErrorBecomesAnEntryAndATraceEntry) {
    int line = 0;
    const CQException exception = Translated(
        [] {
            throw _com_error(MakeHResult(0x80070002), ErrorInfo{L"", GUID_NULL, L"Other.1"});
        },
        line);
    ASSERT_EQ(exception.GetElement().GetChildren().size(), 2u);
    EXPECT_EQ(Child(Entry(exception, 0), L"description"), L"No such file or directory");
    EXPECT_EQ(Child(Entry(exception, 0), L"errorcode"), L"-2147024894");
    EXPECT_EQ(Child(Entry(exception, 0), L"sourcefile"), L"Other.1");
    EXPECT_EQ(Child(Entry(exception, 1), L"description"), L"");
    EXPECT_EQ(Child(Entry(exception, 1), L"sourceline"), std::to_wstring(line));
}

TEST(CQCatch, EachForeignKindIsTranslatedAtTheBoundary) {
    struct Case {
        std::function<void()> thrower;
        int code;
        std::wstring description;
    };
    const Case cases[] = {
        {[] { throw std::runtime_error("disk on fire"); }, 1002,
         L"std exception caught: disk on fire"},
        {[] { throw "narrow text"; }, 1003, L"char* exception caught: narrow text"},
        {[] { throw L"wide text"; }, 1004, L"wchar_t* exception caught: wide text"},
        {[] { throw 42; }, 1001,
         L"Unhandled exception caught (Possibly caused by access violation)"},
    };
    for (const auto& testCase : cases) {
        int line = 0;
        const CQException exception = Translated(testCase.thrower, line);
        ASSERT_EQ(exception.GetElement().GetChildren().size(), 1u) << "no separate trace entry";
        const CQXMLElement& entry = Entry(exception, 0);
        EXPECT_EQ(Child(entry, L"description"), testCase.description);
        EXPECT_EQ(Child(entry, L"errorcode"), std::to_wstring(testCase.code));
        EXPECT_EQ(Child(entry, L"sourcefile"), k_thisFile);
        EXPECT_EQ(Child(entry, L"sourceline"), std::to_wstring(line));
        EXPECT_THAT(Child(entry, L"sourcefunction"), testing::EndsWith(L"Translated"));
    }
}

TEST(CQCatch, ExceptionPassingABoundaryGetsAStacktraceEntry) {
    int line = 0;
    const CQException exception = Translated([] { throw CQException(L"inner", 5); }, line);
    ASSERT_EQ(exception.GetElement().GetChildren().size(), 2u);
    EXPECT_EQ(Child(Entry(exception, 1), L"description"), L"Stacktrace.");
    EXPECT_EQ(Child(Entry(exception, 1), L"errorcode"), L"1005");
    EXPECT_EQ(Child(Entry(exception, 1), L"sourceline"), std::to_wstring(line));
}

TEST(CQCatch, InternalBoundaryReturnsTheBodysResult) {
    std::wstring text = L"kept";
    EXPECT_EQ(CQCatch::Internal([] { return 17; }), 17);
    std::wstring& same = CQCatch::Internal([&]() -> std::wstring& { return text; });
    EXPECT_EQ(&same, &text);
}

TEST(CQCatch, TemplateMethodsAreNamedWithTheirClassArguments) {
    CVEventDispatcher<CVTestService> dispatcher;
    try {
        dispatcher.DispatchEvent();
        FAIL() << "nothing was thrown";
    } catch (const CQException& exception) {
        const std::wstring expected =
            L"{anonymous}::CVEventDispatcher<class {anonymous}::CVTestService>::DispatchEvent";
        EXPECT_EQ(Child(Entry(exception, 0), L"sourcefunction"), expected) << "raise in the body";
        EXPECT_EQ(Child(Entry(exception, 1), L"sourcefunction"), expected) << "boundary";
        EXPECT_EQ(Child(Entry(exception, 1), L"sourceline"), std::to_wstring(dispatcher.m_line));
    }
}

TEST(CQCatch, LogAndSwallowWritesTwoWarningsAndReturns) {
    // The test environment replaces the system log, where warnings go (logtestsupport.h).
    const qutilitylib::test::EventLogCapture capture;
    // clang-format off
    const int line = __LINE__; CQCatch::LogAndSwallow([] { throw CQException(L"gone 50%", 9); });
    // clang-format on
    const std::string file = std::source_location::current().file_name();
    const std::string function = "CQCatch_LogAndSwallowWritesTwoWarningsAndReturns_Test::TestBody";
    std::vector<std::string> logged;
    for (const auto& report : capture.Reports()) {
        EXPECT_EQ(report.type, EQEventType_Warning);
        logged.push_back(CQStringHelper::StringToMultiByte(report.text));
    }
    const std::string product = "Zelto V Platform 3,2,100,0 (QLib 3,2,100,0)\n\n";
    EXPECT_THAT(logged,
                testing::ElementsAre(product + "Exception caught in " + function + " (" + file +
                                         " : " + std::to_string(line) + ")\n",
                                     product + "gone 50%%\n\terrorcode:\t9\nStack trace:\n\t" +
                                         file + "(" + std::to_string(line) + ") : " + function +
                                         "\n\n\n"));

    const qutilitylib::test::EventLogCapture quiet;
    CQCatch::LogAndSwallow([] {});
    EXPECT_TRUE(quiet.Reports().empty());
}

TEST(CQCatch, BoundaryWithItsOwnActionReceivesTheTranslatedException) {
    std::wstring seen;
    CQCatch::Boundary([] { throw std::logic_error("bad"); },
                      [&](CQException& exception) { seen = exception.GetDescription(); });
    EXPECT_THAT(seen, testing::StartsWith(L"std exception caught: bad\n\terrorcode:\t1002\n"));
    EXPECT_THROW(
        CQCatch::Boundary([] { throw 1; }, [](CQException& exception) { throw exception; }),
        CQException);
}
