#include "qlib/qutilitylib/qexception.h"

#include <cerrno>
#include <system_error>

#include <gtest/gtest.h>

#include "qlib/qutilitylib/qstring.h"
#include "tests/qlib/qutilitylib/xmltestsupport.h"

namespace {

const std::wstring k_oneEntryXml =
    L"\r\n<error>"
    L"\r\n\t<errorentry>"
    L"\r\n\t\t<description>Invalid function parameter.</description>"
    L"\r\n\t\t<errorcode>1010</errorcode>"
    L"\r\n\t\t<sourcefile>vtranscodeserver/vtranscodeserviceobj.cpp</sourcefile>"
    L"\r\n\t\t<sourceline>120</sourceline>"
    L"\r\n\t\t<sourcefunction>CVTranscodeService::AddImpl</sourcefunction>"
    L"\r\n\t</errorentry>"
    L"\r\n</error>";

CQException RaisedInAddImpl() {
    return CQException(L"Invalid function parameter.", QERR_INVALID_PARAMETER,
                       L"vtranscodeserver/vtranscodeserviceobj.cpp", 120,
                       L"CVTranscodeService::AddImpl");
}

// The exception a remote caller gets back from an E_QEXCEPTION error object.
CQException ThroughComError(const CQException& exception) {
    return CQException::FromComError(
        _com_error(E_QEXCEPTION, ErrorInfo{exception.GetXML(), GUID_NULL, L""}));
}

}  // namespace

TEST(CQException, OneEntrySerialisesExactly) {
    EXPECT_EQ(RaisedInAddImpl().GetXML(), k_oneEntryXml);
    EXPECT_EQ(CQException().GetXML(), L"\r\n<error/>");
}

TEST(CQException, TwoEntriesSerialiseExactly) {
    CQException exception = RaisedInAddImpl();
    exception.AddEntry(L"", QERR_STACKTRACE, L"client.cpp", 7, L"CClient::Run");
    const std::wstring expected = k_oneEntryXml.substr(0, k_oneEntryXml.size() - 10) +
                                  L"\r\n\t<errorentry>"
                                  L"\r\n\t\t<description/>"
                                  L"\r\n\t\t<errorcode>1005</errorcode>"
                                  L"\r\n\t\t<sourcefile>client.cpp</sourcefile>"
                                  L"\r\n\t\t<sourceline>7</sourceline>"
                                  L"\r\n\t\t<sourcefunction>CClient::Run</sourcefunction>"
                                  L"\r\n\t</errorentry>"
                                  L"\r\n</error>";
    EXPECT_EQ(exception.GetXML(), expected);
}

TEST(CQException, ParsingTheXmlBackKeepsEveryEntryAndChild) {
    CQException exception = RaisedInAddImpl();
    exception.AddValue(L"File", L"/tmp/a <b> & c.avi");
    exception.AddValue(L"ThreadID", 4711);
    exception.AddEntry(L"Stacktrace.", QERR_STACKTRACE, L"x.cpp", 3, L"CX::Y");
    exception.AddEntry(L"Line one\nline two", -2147024894);
    const CQException back = ThroughComError(exception);
    EXPECT_EQ(back.GetXML(), exception.GetXML());
    EXPECT_EQ(back.GetDescription(), exception.GetDescription());
}

TEST(CQException, CopiesAreDeep) {
    const CQException original = RaisedInAddImpl();
    CQException copy(original);
    copy.AddValue(L"File", L"a");
    copy.AddEntry(L"more", 1);
    EXPECT_EQ(original.GetXML(), k_oneEntryXml);
    CQException assigned;
    assigned = copy;
    EXPECT_EQ(assigned.GetXML(), copy.GetXML());
}

TEST(CQException, AddValueGoesToTheNewestRealEntryWithACleanName) {
    CQException exception(L"first", 1, L"f.cpp", 1, L"C::F");
    exception.AddEntry(L"second", 2);
    exception.AddEntry(L"Stacktrace.", QERR_STACKTRACE, L"g.cpp", 2, L"C::G");
    exception.AddValue(L"CQFileUtilities::DeleteDirectory() Path", L"/x");
    exception.AddValue(L"Bad <name> & more", 12);
    exception.AddValue(L" <&", L"dropped: no name is left");
    const auto& entries = exception.GetElement().GetChildren();
    ASSERT_EQ(entries.size(), 3u);
    const auto& second = entries[1]->GetChildren();
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[2]->GetName(), L"CQFileUtilities.DeleteDirectory.Path");
    EXPECT_EQ(second[2]->GetText(), L"/x");
    EXPECT_EQ(second[3]->GetName(), L"Badname_more");
    EXPECT_EQ(second[3]->GetText(), L"12");
    EXPECT_EQ(entries[2]->GetChildren().size(), 5u) << "the trace entry gets nothing";

    CQException onlyTrace;
    onlyTrace.AddEntry(L"Stacktrace.", QERR_STACKTRACE);
    onlyTrace.AddValue(L"File", L"x");
    EXPECT_EQ(onlyTrace.GetElement().GetChildren()[0]->GetChildren().size(), 2u);
}

TEST(CQException, DescriptionListsRealEntriesNewestFirstThenTheTrace) {
    CQException exception(L"File locked 100%", QERR_OPEN_FILE, L"qfile.cpp", 10, L"CQFile::Open");
    exception.AddValue(L"File", L"/tmp/a");
    exception.AddEntry(L"Stacktrace.", QERR_STACKTRACE, L"qfile.cpp", 10, L"CQFile::Open");
    exception.AddEntry(L"Stacktrace.", QERR_STACKTRACE, L"queue.cpp", 55, L"CVQueue::Save");
    exception.AddEntry(L"Saving failed", 62002);
    EXPECT_EQ(exception.GetDescription(),
              L"Saving failed\n"
              L"\terrorcode:\t62002\n"
              L"File locked 100%%\n"
              L"\terrorcode:\t1016\n"
              L"\tFile:\t/tmp/a\n"
              L"Stack trace:"
              L"\n\tUnknown file(Unknown line) : Unknown function"
              L"\n\tqueue.cpp(55) : CVQueue::Save"
              L"\n\tqfile.cpp(10) : CQFile::Open"
              L"\n\n");
}

TEST(CQException, DescriptionOfOnlyTraceEntriesStartsWithTheTrace) {
    CQException exception;
    exception.AddEntry(L"Stacktrace.", QERR_STACKTRACE, L"a.cpp", 1, L"A::B");
    EXPECT_EQ(exception.GetDescription(), L"Stack trace:\n\ta.cpp(1) : A::B\n\n");
    EXPECT_EQ(CQException().GetDescription(), L"Stack trace:\n\n");
}

TEST(CQException, HResultIsTheNewestRealEntrysFailureCode) {
    EXPECT_EQ(CQException().GetHResult(), 0);
    CQException exception = RaisedInAddImpl();
    EXPECT_EQ(exception.GetHResult(), E_FAIL);
    exception.AddEntry(L"denied", E_ACCESSDENIED);
    exception.AddEntry(L"Stacktrace.", QERR_STACKTRACE);
    EXPECT_EQ(exception.GetHResult(), E_ACCESSDENIED);
    EXPECT_TRUE(exception.HasErrorCode(QERR_INVALID_PARAMETER));
    EXPECT_TRUE(exception.HasErrorCode(QERR_STACKTRACE));
    EXPECT_FALSE(exception.HasErrorCode(QERR_OPEN_FILE));

    CQException onlyTrace;
    onlyTrace.AddEntry(L"Stacktrace.", QERR_STACKTRACE);
    EXPECT_EQ(onlyTrace.GetHResult(), 0);
}

TEST(CQException, CatalogueGivesTheTextOfEveryCode) {
    EXPECT_EQ(CQException::GetErrorCodeText(QERR_INVALID_PARAMETER),
              L"Invalid function parameter.");
    EXPECT_EQ(CQException::GetErrorCodeText(VERR_SERVICE_NOT_INITIALIZED),
              L"Transcodeservice not initialized.");
    EXPECT_EQ(CQException::GetErrorCodeText(QERR_GET_FILE_TIME), L"Failed to get file time.");
    EXPECT_EQ(CQException::GetErrorCodeText(QERR_UNHANDLED),
              L"Unhandled exception caught (Possibly caused by access violation)");
    EXPECT_EQ(CQException::GetErrorCodeText(4242), L"");
    const CQException byCode(QERR_NOT_INITIALIZED);
    EXPECT_NE(byCode.GetXML().find(L"<description>Object not initialized.</description>"),
              std::wstring::npos);
}

TEST(CQException, ForeignComErrorTakesTheBestTextAndTheSource) {
    const CQException noText = CQException::FromComError(_com_error(MakeHResult(0x80070002)));
    EXPECT_NE(noText.GetXML().find(L"<description>No such file or directory</description>"
                                   L"\r\n\t\t<errorcode>-2147024894</errorcode>"),
              std::wstring::npos)
        << noText.GetXML();

    const CQException withText = CQException::FromComError(
        _com_error(DISP_E_TYPEMISMATCH, ErrorInfo{L"Bad value", GUID_NULL, L"Other.Component.1"}));
    const auto& entry = *withText.GetElement().GetChildren().at(0);
    EXPECT_EQ(entry.FindChild(L"description")->GetText(), L"Bad value");
    EXPECT_EQ(entry.FindChild(L"sourcefile")->GetText(), L"Other.Component.1");
    EXPECT_EQ(withText.GetHResult(), DISP_E_TYPEMISMATCH);

    const CQException unknown = CQException::FromComError(_com_error(MakeHResult(0x80AB0001)));
    EXPECT_NE(unknown.GetXML().find(L"Unknown error 0x80AB0001"), std::wstring::npos);
}

TEST(CQException, MalformedExceptionXmlStillGivesAnException) {
    for (std::wstring_view text :
         {L"<error><errorentry>", L"not xml at all", L"<other/>", L"<error/>"}) {
        const CQException exception = CQException::FromComError(
            _com_error(E_QEXCEPTION, ErrorInfo{std::wstring(text), GUID_NULL, L""}));
        ASSERT_EQ(exception.GetElement().GetChildren().size(), 1u) << std::wstring(text);
        const auto& entry = *exception.GetElement().GetChildren()[0];
        EXPECT_EQ(entry.FindChild(L"description")->GetText(), text);
        EXPECT_EQ(exception.GetHResult(), E_QEXCEPTION);
    }
    const CQException noInfo = CQException::FromComError(_com_error(E_QEXCEPTION));
    EXPECT_NE(noInfo.GetXML().find(L"IDispatch error #23379"), std::wstring::npos);
}

TEST(CQException, SystemMessagesComeFromTheSystemOrTheComTable) {
    EXPECT_EQ(CQException::GetSystemErrorMessage(2), L"No such file or directory");
    EXPECT_EQ(CQException::GetSystemErrorMessage(MakeHResult(0x80070005)), L"Permission denied");
    EXPECT_EQ(CQException::GetSystemErrorMessage(E_NOINTERFACE), L"No such interface supported");
    EXPECT_EQ(CQException::GetSystemErrorMessage(MakeHResult(0x80AB0001)),
              L"Unable to format error message from error number -2136276991");
    EXPECT_EQ(CQException::GetSystemErrorMessage(9999),
              L"Unable to format error message from error number 9999");
}

TEST(CQException, SystemErrorCarriesTheHResultTextContextAndLocation) {
    const int line = __LINE__ + 2;
    try {
        CQException::RaiseSystemError(EPERM, {{L"File", L"/etc/shadow"}, {L"Mode", L"w"}});
    } catch (const CQException& exception) {
        EXPECT_EQ(exception.GetHResult(), E_ACCESSDENIED);
        const auto& entry = *exception.GetElement().GetChildren().at(0);
        EXPECT_EQ(entry.FindChild(L"description")->GetText(), L"Operation not permitted");
        EXPECT_EQ(entry.FindChild(L"File")->GetText(), L"/etc/shadow");
        EXPECT_EQ(entry.FindChild(L"Mode")->GetText(), L"w");
        EXPECT_EQ(entry.FindChild(L"sourceline")->GetText(), std::to_wstring(line));
        EXPECT_EQ(entry.FindChild(L"sourcefunction")->GetText(),
                  L"CQException_SystemErrorCarriesTheHResultTextContextAndLocation_Test::TestBody");
    }
    try {
        CQException::RaiseSystemError(std::system_error(ENOENT, std::generic_category(), "open"));
    } catch (const CQException& exception) {
        EXPECT_EQ(exception.GetHResult(), MakeHResult(0x80070002));
        EXPECT_NE(exception.GetXML().find(L"No such file or directory"), std::wstring::npos);
    }
    EXPECT_THROW(CQException::RaiseSystemError(0), CQException);
}

TEST(CQException, MethodNamesAreReducedToClassAndMethod) {
    const auto name = [](std::string_view signature) {
        return CQException::QualifiedMethodName(signature);
    };
    EXPECT_EQ(name("HRESULT CVTranscodeService::Add(long int, const wchar_t*, long int*)"),
              L"CVTranscodeService::Add");
    EXPECT_EQ(name("long int CVTranscodeService::Add(long int, const std::wstring&) const"),
              L"CVTranscodeService::Add");
    EXPECT_EQ(name("void CVEventDispatcher<T>::DispatchEvent(IVItem*) [with T = "
                   "CVTranscodeService]"),
              L"CVEventDispatcher<class CVTranscodeService>::DispatchEvent");
    EXPECT_EQ(name("CVEventDispatcher<CVTranscodeService>::DispatchEvent(IVItem*)::<lambda()>"),
              L"CVEventDispatcher<class CVTranscodeService>::DispatchEvent");
    EXPECT_EQ(name("static std::pair<int, int> CVMap<K, N>::Find(U) [with U = long int; K = "
                   "CQKey; int N = 3]"),
              L"CVMap<class CQKey,3>::Find");
    EXPECT_EQ(name("CVMap<int, 3>::Find<CQKey>(CQKey)::<lambda(int)>::<lambda()>"),
              L"CVMap<int,3>::Find");
    EXPECT_EQ(name("CVTranscodeService::CVTranscodeService()"),
              L"CVTranscodeService::CVTranscodeService");
    EXPECT_EQ(name("CVTranscodeService::~CVTranscodeService()"),
              L"CVTranscodeService::~CVTranscodeService");
    EXPECT_EQ(name("bool CQKey::operator<(const CQKey&) const"), L"CQKey::operator<");
    EXPECT_EQ(name("void CQTask::operator()()"), L"CQTask::operator()");
    EXPECT_EQ(name("void ns::inner::Run()"), L"ns::inner::Run");
    EXPECT_EQ(name("int main()"), L"main");
    EXPECT_EQ(name(""), L"");
}

// Clients in other processes read the text with their own XML parsers.
TEST(CQException, XmlIsReadByAStandardReaderAndComesBackWhole) {
    CQException exception(L"Failed \x07 to delete -- folder", QERR_DELETE_FILE, L"q.cpp", 9,
                          L"CQFileUtilities::DeleteDirectory");
    exception.AddValue(L"CQFileUtilities::DeleteDirectory() Path", L"/tmp/a&b");
    exception.AddValue(L"CQFileUtilities::ConcatPathname() str1", L"<x>");
    exception.AddEntry(L"Stacktrace.", QERR_STACKTRACE, L"r.cpp", 4, L"CVQueue<class CVJob>::Save");
    const std::wstring xml = exception.GetXML();
    EXPECT_EQ(StandardReaderError(xml), "") << CQStringHelper::StringToMultiByte(xml);

    const CQException back = ThroughComError(exception);
    EXPECT_EQ(back.GetXML(), xml);
    const auto& first = back.GetElement().GetChildren().at(0)->GetChildren();
    ASSERT_EQ(first.size(), 7u);
    EXPECT_EQ(first[5]->GetName(), L"CQFileUtilities.DeleteDirectory.Path");
    EXPECT_EQ(first[5]->GetText(), L"/tmp/a&b");
    EXPECT_EQ(first[6]->GetName(), L"CQFileUtilities.ConcatPathname.str1");
}

TEST(CQException, XmlOfOlderBuildsIsStillConverted) {
    const std::wstring older =
        L"\r\n<error>\r\n\t<errorentry>\r\n\t\t<description>gone</description>"
        L"\r\n\t\t<errorcode>2012</errorcode>"
        L"\r\n\t\t<CQFileUtilities::DeleteDirectory()Path>/x</"
        L"CQFileUtilities::DeleteDirectory()Path>"
        L"\r\n\t</errorentry>\r\n</error>";
    const CQException converted =
        CQException::FromComError(_com_error(E_QEXCEPTION, ErrorInfo{older, GUID_NULL, L""}));
    EXPECT_TRUE(converted.HasErrorCode(QERR_DELETE_FILE));
    EXPECT_NE(converted.GetDescription().find(L"CQFileUtilities::DeleteDirectory()Path:\t/x"),
              std::wstring::npos);
    EXPECT_EQ(StandardReaderError(converted.GetXML()), "");
}
