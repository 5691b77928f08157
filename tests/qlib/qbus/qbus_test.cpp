// The bus bridge on a private bus: a probe object exported from its table, called by clients
// on their own connections the way other processes call the server.

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include "qlib/qbus/qbuscallpool.h"
#include "qlib/qbus/qbusclassfactory.h"
#include "qlib/qbus/qbusconnection.h"
#include "qlib/qbus/qbuserror.h"
#include "qlib/qbus/qbusitemcodec.h"
#include "qlib/qbus/qbusserverobject.h"
#include "qlib/qbus/qbusvaluecodec.h"
#include "qlib/qcom/comclassregistration.h"
#include "qlib/qutilitylib/qexception.h"
#include "tests/qlib/qbus/privatebus.h"
#include "tests/qlib/qbus/testbusobjects.h"
#include "tests/vtranscodeserver/vtesttranscodeitem.h"

namespace qbus::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* k_service = "com.zelto.Test.QBus";
constexpr const char* k_probePath = "/com/zelto/Test/Probe";
constexpr const char* k_probeInterface = "com.zelto.Test.IBusProbe";
constexpr const wchar_t* k_outerGuid = L"{0E4F1A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B}";

// Waits up to five seconds for `condition`.
template <class Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class QBusTest : public testing::Test {
protected:
    void SetUp() override {
        m_server = CQBusConnection::Open(m_bus.Address());
        m_server->RequestName(k_service);
        ASSERT_EQ(CreateComObject(&m_probe), S_OK);
        m_export = std::make_unique<CQBusServerObject>(
            *m_server, SQBusExport{k_probePath,
                                   "com.zelto.Test.",
                                   CComPtr<IUnknown>(static_cast<IBusProbe*>(m_probe.Get())),
                                   {&IBusProbe::TypeInfo()},
                                   DIID_ProbeEvents});
        m_server->Start();
        m_client = Connect();
        m_proxy = sdbus::createProxy(*m_client, k_service, k_probePath);
    }
    void TearDown() override {
        if (m_probe != nullptr) {
            m_probe->Unblock();
        }
        m_proxy.reset();
        m_client.reset();
        m_export.reset();
    }

    std::unique_ptr<sdbus::IConnection> Connect() {
        return sdbus::createSessionBusConnectionWithAddress(m_bus.Address());
    }
    sdbus::MethodCall Call(const char* method, const char* interface = k_probeInterface) {
        return m_proxy->createMethodCall(interface, method);
    }
    sdbus::MethodReply Send(const sdbus::MethodCall& call) { return m_proxy->callMethod(call); }
    // The error a call answers; fails the test when it succeeds.
    sdbus::Error Refused(const sdbus::MethodCall& call) {
        try {
            m_proxy->callMethod(call);
        } catch (const sdbus::Error& error) {
            return error;
        }
        ADD_FAILURE() << "the call succeeded";
        return sdbus::Error("none", "");
    }
    VARIANT EchoOf(const VARIANT& value) {
        sdbus::MethodCall call = Call("Echo");
        CQBusValueCodec::WriteVariant(call, value);
        sdbus::MethodReply reply = Send(call);
        return CQBusValueCodec::ReadVariant(reply);
    }
    bool ServerAnswers() {
        sdbus::MethodCall call = Call("Split");
        call << int32_t{4};
        int32_t half = 0;
        int32_t rest = 0;
        Send(call) >> half >> rest;
        return half == 2 && rest == 2;
    }

    TestItemClasses m_itemClasses;
    PrivateBus m_bus;
    std::unique_ptr<CQBusConnection> m_server;
    CComPtr<CBusProbe> m_probe;
    std::unique_ptr<CQBusServerObject> m_export;
    std::unique_ptr<sdbus::IConnection> m_client;
    std::unique_ptr<sdbus::IProxy> m_proxy;
};

TEST_F(QBusTest, TypedMethodsTakeInArgumentsAndAnswerOutParametersThenTheRetval) {
    sdbus::MethodCall describe = Call("Describe");
    describe << std::string("naïve") << int32_t{-5} << uint32_t{7} << true;
    std::string text;
    Send(describe) >> text;
    EXPECT_EQ(text, "naïve/-5/7/yes");

    sdbus::MethodCall split = Call("Split");
    split << int32_t{9};
    int32_t half = 0;
    int32_t rest = 0;
    Send(split) >> half >> rest;
    EXPECT_EQ(half, 4);
    EXPECT_EQ(rest, 5);
}

TEST_F(QBusTest, TaggedValuesKeepTheirTypeBothWays) {
    SAFEARRAY numbers(VT_I4);
    numbers.Append(VARIANT(LONG{1}));
    numbers.Append(VARIANT(LONG{-2}));
    SAFEARRAY texts(VT_BSTR);
    texts.Append(VARIANT(L"a"));
    SAFEARRAY mixed(VT_VARIANT);
    mixed.Append(VARIANT(L"b"));
    mixed.Append(VARIANT(int64_t{1} << 40));
    const VARIANT values[] = {
        VARIANT(),
        VARIANT::Null(),
        VARIANT(SHORT{-3}),
        VARIANT(LONG{-70000}),
        VARIANT(ULONG{4000000000u}),
        VARIANT(int64_t{-1} << 50),
        VARIANT(uint64_t{1} << 63),
        VARIANT(2.5f),
        VARIANT(-1.25),
        VARIANT::Date(45000.5),
        VARIANT(true),
        VARIANT(L"text \u00e9\u4e2d"),
        VARIANT(uint8_t{200}),
        VARIANT(uint16_t{60000}),
        VARIANT(int8_t{-100}),
        VARIANT::Int(-7),
        VARIANT::UInt(7),
        VARIANT::Error(DISP_E_PARAMNOTFOUND),
        VARIANT(numbers),
        VARIANT(texts),
        VARIANT(mixed),
        VARIANT(static_cast<IDispatch*>(nullptr)),
    };
    for (const VARIANT& value : values) {
        EXPECT_EQ(EchoOf(value), value) << "VT " << value.Vt();
    }
}

TEST_F(QBusTest, TaggedValuesHaveTheContractsWireForm) {
    // A missing optional argument as a client in another language writes it by hand.
    sdbus::MethodCall call = Call("Echo");
    call.openStruct("qv");
    call << uint16_t{VT_ERROR};
    call.openVariant("i");
    call << int32_t{static_cast<int32_t>(DISP_E_PARAMNOTFOUND)};
    call.closeVariant();
    call.closeStruct();
    sdbus::MethodReply reply = Send(call);
    reply.enterStruct("qv");
    uint16_t vt = 0;
    reply >> vt;
    std::string type;
    std::string contents;
    reply.peekType(type, contents);
    EXPECT_EQ(vt, VT_ERROR);
    EXPECT_EQ(contents, "i");

    const CComPtr<IVItem> item = MakeItem(L"Video", L"");
    sdbus::MethodCall echo = Call("Echo");
    CQBusValueCodec::WriteVariant(echo, VARIANT(static_cast<IDispatch*>(item.Get())));
    sdbus::MethodReply itemReply = Send(echo);
    itemReply.enterStruct("qv");
    itemReply >> vt;
    itemReply.peekType(type, contents);
    EXPECT_EQ(vt, VT_DISPATCH);
    EXPECT_EQ(contents, "(sssa(ssi(qv)))");
}

TEST_F(QBusTest, ItemsTravelByValueWithNestedItems) {
    const CComPtr<IVItem> inner = MakeItem(L"Audio", L"");
    CComPtr<IVProperties> innerProperties;
    inner->GetProperties(&innerProperties);
    innerProperties->SetValueByName(L"Bitrate", VARIANT(LONG{128000}), EVPropertyKind_Metadata);
    const CComPtr<IVItem> item = MakeItem(L"Video", k_outerGuid);
    item->SetDataStoreName(L"Library");
    CComPtr<IVProperties> properties;
    item->GetProperties(&properties);
    properties->SetValue(L"URI", k_metadataNamespace, VARIANT(L"/media/a.mp4"));
    properties->SetValue(L"Plain", L"", VARIANT(LONG{1}));
    properties->SetValueByName(L"Type", VARIANT(LONG{8}), EVPropertyKind_Transcode);
    properties->SetValue(L"Track", L"", VARIANT(static_cast<IDispatch*>(inner.Get())));

    sdbus::MethodCall call = Call("CopyItem");
    CQBusItemCodec::WriteItem(call, item.Get(), 0);
    sdbus::MethodReply reply = Send(call);
    const CComPtr<IVItem> copy = CQBusItemCodec::ReadItem(reply, 0);

    BSTR text;
    copy->GetClassName(&text);
    EXPECT_EQ(text, L"Video");
    copy->GetGUID(&text);
    EXPECT_EQ(text, k_outerGuid);
    copy->GetDataStoreName(&text);
    EXPECT_EQ(text, L"Library");
    CComPtr<IVProperties> copied;
    copy->GetProperties(&copied);
    VARIANT value;
    copied->GetValue(L"URI", k_metadataNamespace, &value);
    EXPECT_EQ(value, VARIANT(L"/media/a.mp4"));
    copied->GetValue(L"Type", k_transcodeNamespace, &value);
    EXPECT_EQ(value, VARIANT(LONG{8})) << "a kind-33 property is found in the transcode namespace";
    copied->GetValue(L"Track", L"", &value);
    ASSERT_EQ(value.Vt(), VT_DISPATCH);
    CComPtr<IVItem> track;
    ASSERT_EQ(value.Unknown()->QueryInterface(IVItem::k_iid, track.Put()), S_OK);
    EXPECT_NE(track.Get(), inner.Get()) << "a copy, not the object";
    CComPtr<IVProperties> trackProperties;
    track->GetProperties(&trackProperties);
    trackProperties->GetValue(L"Bitrate", k_metadataNamespace, &value);
    EXPECT_EQ(value, VARIANT(LONG{128000}));
}

TEST_F(QBusTest, TranscodeItemsTravelAsTheirItemXml) {
    CTestTranscodeItemClass transcodeItems;
    const CComPtr<IVTranscodeItem> item =
        CTestTranscodeItem::Make(L"/media/a & b.mp4", L"/out/a.mp4");
    sdbus::MethodCall typed = Call("SourceOf");
    CQBusItemCodec::WriteTranscodeItem(typed, item.Get());
    std::string source;
    Send(typed) >> source;
    EXPECT_EQ(source, "/media/a & b.mp4");

    CComPtr<IVTranscodeItemData> data;
    ASSERT_EQ(item.QueryInterface(&data), S_OK);
    BSTR xml;
    data->GetItemXML(&xml);
    sdbus::MethodCall invoke = Call("Invoke", CQBusServerObject::k_dispatchInterface);
    invoke << int32_t{10};
    invoke.openContainer("(qv)");
    CQBusValueCodec::WriteVariant(invoke, VARIANT(xml));
    invoke.closeContainer();
    sdbus::MethodReply reply = Send(invoke);
    reply.enterContainer("(qv)");
    EXPECT_EQ(CQBusValueCodec::ReadVariant(reply), VARIANT(L"/media/a & b.mp4"));

    sdbus::MethodCall broken = Call("SourceOf");
    broken << std::string("<not an item");
    EXPECT_EQ(Refused(broken).getName(), CQBusError::k_invalidArgsName);
}

TEST_F(QBusTest, LateBoundCallsByNameAndDispatchId) {
    sdbus::MethodCall names = Call("GetIDsOfNames", CQBusServerObject::k_dispatchInterface);
    names << std::vector<std::string>{"Split", "Echo"};
    std::vector<int32_t> ids;
    sdbus::MethodReply idsReply = Send(names);
    idsReply >> ids;
    EXPECT_EQ(ids, (std::vector<int32_t>{3, 1}));

    sdbus::MethodCall invoke = Call("Invoke", CQBusServerObject::k_dispatchInterface);
    invoke << int32_t{3};
    invoke.openContainer("(qv)");
    CQBusValueCodec::WriteVariant(invoke, VARIANT(L"9"));  // converted to the parameter's type
    invoke.closeContainer();
    sdbus::MethodReply reply = Send(invoke);
    reply.enterContainer("(qv)");
    EXPECT_EQ(CQBusValueCodec::ReadVariant(reply), VARIANT(LONG{5})) << "the retval first";
    EXPECT_EQ(CQBusValueCodec::ReadVariant(reply), VARIANT(LONG{4})) << "then the out-parameter";

    sdbus::MethodCall unknownId = Call("Invoke", CQBusServerObject::k_dispatchInterface);
    unknownId << int32_t{9} << std::vector<sdbus::Struct<uint16_t, sdbus::Variant>>{};
    sdbus::Error error = Refused(unknownId);
    EXPECT_EQ(error.getName(), CQBusError::k_hresultName);
    EXPECT_EQ(error.getMessage().substr(0, 10), "0x80020003");

    sdbus::MethodCall wrongCase = Call("GetIDsOfNames", CQBusServerObject::k_dispatchInterface);
    wrongCase << std::vector<std::string>{"split"};
    error = Refused(wrongCase);
    EXPECT_EQ(error.getMessage().substr(0, 10), "0x80020003") << "names match exactly";

    sdbus::MethodCall tooMany = Call("Invoke", CQBusServerObject::k_dispatchInterface);
    tooMany << int32_t{3};
    tooMany.openContainer("(qv)");
    for (int i = 0; i < 3; ++i) {
        CQBusValueCodec::WriteVariant(tooMany, VARIANT(LONG{i}));
    }
    tooMany.closeContainer();
    error = Refused(tooMany);
    EXPECT_EQ(error.getMessage().substr(0, 10), "0x8002000E");
}

TEST_F(QBusTest, FailuresArriveAsNamedErrors) {
    sdbus::MethodCall fail = Call("Fail");
    fail << int32_t{static_cast<int32_t>(0x80070005)};
    sdbus::Error error = Refused(fail);
    EXPECT_EQ(error.getName(), CQBusError::k_hresultName);
    EXPECT_EQ(error.getMessage(), "0x80070005 failed on purpose");
    ErrorInfo info;
    EXPECT_EQ(CQBusError::ToHResult(error, &info), static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(info.description, L"failed on purpose");

    error = Refused(Call("FailWithException"));
    EXPECT_EQ(error.getName(), CQBusError::k_qexceptionName);
    EXPECT_EQ(CQBusError::ToHResult(error, &info), E_QEXCEPTION);
    EXPECT_NE(error.getMessage().find("Text with"), std::string::npos);

    // Another process with a standard parser reads the exception's XML.
    qsys::test::TemporaryFolder folder;
    const std::string file = folder.Path() + "/error.xml";
    qsys::test::WriteFile(file, error.getMessage());
    const std::string command =
        "/usr/bin/python3 -c \"import sys, xml.etree.ElementTree as T; r = T.parse(sys.argv[1])"
        ".getroot(); e = r.find('errorentry'); print(r.tag, e.find('errorcode').text, "
        "e.find('description').text)\" " +
        file;
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    const int status = ::pclose(pipe);
    ASSERT_TRUE(read);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(std::string(line), "error 1010 Text with <markup> & \"quotes\"\tand a tab.\n");
}

TEST_F(QBusTest, ABlockingCallHoldsUpNoOtherCall) {
    auto waiter = Connect();
    auto waitingProxy = sdbus::createProxy(*waiter, k_service, k_probePath);
    auto blocked = std::async(std::launch::async, [&] {
        waitingProxy->callMethod(waitingProxy->createMethodCall(k_probeInterface, "Wait"));
    });
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(ServerAnswers());
    }
    EXPECT_EQ(blocked.wait_for(0s), std::future_status::timeout);
    m_probe->Unblock();
    EXPECT_EQ(blocked.wait_for(10s), std::future_status::ready);
}

TEST_F(QBusTest, WithEveryPoolThreadBlockedTheLoopStillReads) {
    std::atomic<size_t> answered{0};  // outlives the connection whose replies count
    auto waiter = Connect();
    waiter->enterEventLoopAsync();
    auto waitingProxy = sdbus::createProxy(*waiter, k_service, k_probePath);
    const auto wait = [&] {
        waitingProxy->callMethod(
            waitingProxy->createMethodCall(k_probeInterface, "Wait"),
            [&](sdbus::MethodReply&, const sdbus::Error* error) {
                EXPECT_EQ(error, nullptr);
                ++answered;
            },
            60'000'000);
    };
    for (size_t i = 0; i < CQBusCallPool::k_maxThreads; ++i) {
        wait();
    }
    // One thread of the pool leads the loop; every other one is held by a call.
    const size_t held = CQBusCallPool::k_maxThreads - 1;
    ASSERT_TRUE(Eventually([&] { return m_probe->Waiting() == held; }));

    // A call read while every thread is busy waits for one; the loop goes on reading, here a
    // call it answers itself. (The pauses let each message arrive in a round of its own.)
    std::this_thread::sleep_for(100ms);
    wait();
    std::this_thread::sleep_for(100ms);
    sdbus::MethodCall names =
        waitingProxy->createMethodCall(CQBusServerObject::k_dispatchInterface, "GetIDsOfNames");
    names << std::vector<std::string>{"Split"};
    std::vector<int32_t> ids;
    sdbus::MethodReply reply = waitingProxy->callMethod(names, 5'000'000);
    reply >> ids;
    EXPECT_EQ(ids, std::vector<int32_t>{3});
    EXPECT_EQ(m_probe->Waiting(), held) << "no thread beyond the limit";

    m_probe->Unblock();
    EXPECT_TRUE(Eventually([&] { return answered == CQBusCallPool::k_maxThreads + 1; }));
    EXPECT_TRUE(ServerAnswers());
}

TEST_F(QBusTest, LargeRepliesAreWrittenWithoutWaitingForMoreInput) {
    const std::wstring big(900000, L'x');
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(EchoOf(VARIANT(big)), VARIANT(big));
    }
}

TEST_F(QBusTest, BadArgumentsAreRefusedAndTheServerCarriesOn) {
    sdbus::MethodCall wrongType = Call("Describe");
    wrongType << int32_t{1} << int32_t{2} << uint32_t{3} << true;
    EXPECT_EQ(Refused(wrongType).getName(), CQBusError::k_invalidArgsName);

    sdbus::MethodCall mismatch = Call("Echo");  // VT_I4 tag on a string
    mismatch.openStruct("qv");
    mismatch << uint16_t{VT_I4};
    mismatch.openVariant("s");
    mismatch << std::string("4");
    mismatch.closeVariant();
    mismatch.closeStruct();
    EXPECT_EQ(Refused(mismatch).getName(), CQBusError::k_invalidArgsName);

    sdbus::MethodCall unknownVt = Call("Echo");
    unknownVt.openStruct("qv");
    unknownVt << uint16_t{999};
    unknownVt.openVariant("i");
    unknownVt << int32_t{1};
    unknownVt.closeVariant();
    unknownVt.closeStruct();
    EXPECT_EQ(Refused(unknownVt).getName(), CQBusError::k_invalidArgsName);

    sdbus::MethodCall huge = Call("Describe");
    huge << std::string(10 * 1024 * 1024, 'a') << int32_t{1} << uint32_t{1} << true;
    const sdbus::Error hugeError = Refused(huge);
    EXPECT_EQ(hugeError.getName(), CQBusError::k_invalidArgsName) << hugeError.getMessage();

    // Items nested deeper than the bridge takes (and within what the bus carries).
    CComPtr<IVItem> nested = MakeItem(L"Item", L"");
    for (int depth = 1; depth <= CQBusValueCodec::k_maxDepth + 2; ++depth) {
        CComPtr<IVItem> outer = MakeItem(L"Item", L"");
        CComPtr<IVProperties> properties;
        outer->GetProperties(&properties);
        properties->SetValue(L"Child", L"", VARIANT(static_cast<IDispatch*>(nested.Get())));
        nested = outer;
    }
    sdbus::MethodCall deep = Call("Echo");
    deep.openStruct("qv");
    deep << uint16_t{VT_DISPATCH};
    deep.openVariant(CQBusItemCodec::k_itemSignature);
    CQBusItemCodec::WriteItem(deep, nested.Get(), -100);  // the writer's own limit set aside
    deep.closeVariant();
    deep.closeStruct();
    const sdbus::Error deepError = Refused(deep);
    EXPECT_EQ(deepError.getName(), CQBusError::k_invalidArgsName) << deepError.getMessage();

    EXPECT_TRUE(ServerAnswers());
}

// Collects OnEvent signals that reach one client connection.
class EventClient {
public:
    explicit EventClient(const std::string& address)
        : m_connection(sdbus::createSessionBusConnectionWithAddress(address)),
          m_proxy(sdbus::createProxy(*m_connection, k_service, k_probePath)) {
        m_proxy->registerSignalHandler(
            CQBusEventSinkInterface(), "OnEvent", [this](sdbus::Signal& signal) {
                const CComPtr<IVItem> item = CQBusItemCodec::ReadItem(signal, 0);
                CComPtr<IVProperties> properties;
                item->GetProperties(&properties);
                VARIANT text;
                properties->GetValue(L"Text", k_transcodeNamespace, &text);
                std::lock_guard lock(m_lock);
                m_events.push_back(text.Get<BSTR>());
            });
        m_proxy->finishRegistration();
        m_connection->enterEventLoopAsync();
    }
    ~EventClient() {
        if (m_connection != nullptr) {
            m_connection->leaveEventLoop();
        }
    }

    static const char* CQBusEventSinkInterface() { return "com.zelto.VEventLib.IVEventListener"; }
    uint32_t Advise() {
        uint32_t cookie = 0;
        m_proxy->callMethod("Advise")
            .onInterface(CQBusServerObject::k_connectionPointsInterface)
            .storeResultsTo(cookie);
        return cookie;
    }
    void Unadvise(uint32_t cookie) {
        m_proxy->callMethod("Unadvise")
            .onInterface(CQBusServerObject::k_connectionPointsInterface)
            .withArguments(cookie);
    }
    std::vector<std::wstring> Events() {
        std::lock_guard lock(m_lock);
        return m_events;
    }
    void Disconnect() {
        m_connection->leaveEventLoop();
        m_proxy.reset();
        m_connection.reset();
    }

private:
    std::unique_ptr<sdbus::IConnection> m_connection;
    std::unique_ptr<sdbus::IProxy> m_proxy;
    std::mutex m_lock;
    std::vector<std::wstring> m_events;  // guarded by m_lock
};

TEST_F(QBusTest, EventsReachOnlyAdvisedPeersWhileAdvised) {
    EventClient advised(m_bus.Address());
    EventClient bystander(m_bus.Address());
    const uint32_t cookie = advised.Advise();
    EXPECT_NE(cookie, 0u);

    sdbus::MethodCall fire = Call("Fire");
    fire << std::string("first");
    Send(fire);
    EXPECT_TRUE(Eventually([&] { return advised.Events().size() == 1; }));
    EXPECT_EQ(advised.Events().front(), L"first");

    sdbus::MethodCall foreign =
        m_proxy->createMethodCall(CQBusServerObject::k_connectionPointsInterface, "Unadvise");
    foreign << cookie;
    EXPECT_EQ(Refused(foreign).getMessage().substr(0, 10), "0x80040200")
        << "only the advising peer may unadvise";

    advised.Unadvise(cookie);
    sdbus::MethodCall second = Call("Fire");
    second << std::string("second");
    Send(second);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(advised.Events().size(), 1u);
    EXPECT_TRUE(bystander.Events().empty());
    EXPECT_EQ(m_probe->Sinks(), 0u);
}

TEST_F(QBusTest, APeerThatLeavesIsUnadvised) {
    EventClient leaving(m_bus.Address());
    leaving.Advise();
    leaving.Advise();
    EXPECT_EQ(m_probe->Sinks(), 2u);
    leaving.Disconnect();
    EXPECT_TRUE(Eventually([&] { return m_probe->Sinks() == 0; }));
}

TEST(QBusConnection, LosingTheBusIsReportedOnce) {
    PrivateBus bus;
    const auto connection = CQBusConnection::Open(bus.Address());
    std::atomic<int> lost{0};
    connection->Start([&] { ++lost; });
    bus.Stop();
    EXPECT_TRUE(Eventually([&] { return lost == 1; }));
}

// Counts live instances, for the factory's release of objects.
class CCountedProbe final : public CComObjectBase<CComDispatchImpl<IBusProbe>> {
public:
    CCountedProbe() { ++s_live; }
    ~CCountedProbe() { --s_live; }
    HRESULT Echo(const VARIANT& value, VARIANT* result) override { return *result = value, S_OK; }
    HRESULT Describe(BSTR, LONG, ULONG, VARIANT_BOOL, BSTR*) override { return E_NOTIMPL; }
    HRESULT Split(LONG, LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT CopyItem(IVItem*, IVItem**) override { return E_NOTIMPL; }
    HRESULT Wait() override { return S_OK; }
    HRESULT Fail(LONG code) override { return code; }
    HRESULT FailWithException() override { return E_NOTIMPL; }
    HRESULT Fire(BSTR) override { return S_OK; }
    HRESULT SourceOf(IVTranscodeItem*, BSTR*) override { return E_NOTIMPL; }

    static inline std::atomic<int> s_live{0};
};

constexpr CLSID k_sharedClass = MakeGuid("6A0B7C1D-2E3F-4A5B-8C6D-7E8F9A0B1C10");
constexpr CLSID k_perRequestClass = MakeGuid("6A0B7C1D-2E3F-4A5B-8C6D-7E8F9A0B1C11");

class QBusClassFactoryTest : public testing::Test {
protected:
    void SetUp() override {
        m_server = CQBusConnection::Open(m_bus.Address());
        m_server->RequestName(k_service);
        m_factory = std::make_unique<CQBusClassFactory>(
            *m_server, "/com/zelto/Test", "com.zelto.Test.",
            std::vector<SQBusClass>{
                {k_sharedClass,
                 {L"Test.Shared.1"},
                 "/com/zelto/Test/Shared",
                 {&IBusProbe::TypeInfo()},
                 std::nullopt,
                 EQBusInstancing::Shared},
                {k_perRequestClass,
                 {L"Test.PerRequest.1", L"Test.PerRequest"},
                 "/com/zelto/Test/PerRequest",
                 {&IBusProbe::TypeInfo()},
                 std::nullopt,
                 EQBusInstancing::PerRequest},
            },
            [this](size_t references) { m_references = references; });
        m_server->Start();
    }
    void TearDown() override { m_factory.reset(); }

    static std::string Create(sdbus::IConnection& client, const std::string& name) {
        auto proxy = sdbus::createProxy(client, k_service, "/com/zelto/Test");
        sdbus::ObjectPath path;
        proxy->callMethod("CreateInstance")
            .onInterface(CQBusClassFactory::k_interface)
            .withArguments(name)
            .storeResultsTo(path);
        return path;
    }
    static void Release(sdbus::IConnection& client, const std::string& path) {
        auto proxy = sdbus::createProxy(client, k_service, "/com/zelto/Test");
        proxy->callMethod("Release")
            .onInterface(CQBusClassFactory::k_interface)
            .withArguments(sdbus::ObjectPath(path));
    }

    PrivateBus m_bus;
    CComClassRegistration m_shared =
        RegisterComSingleton<CCountedProbe>(k_sharedClass, L"Test::Shared");
    CComClassRegistration m_perRequest =
        RegisterComClass<CCountedProbe>(k_perRequestClass, L"Test::PerRequest");
    std::unique_ptr<CQBusConnection> m_server;
    std::unique_ptr<CQBusClassFactory> m_factory;
    std::atomic<size_t> m_references{0};
};

TEST_F(QBusClassFactoryTest, SharedClassesAnswerOneObjectAndOthersANewOneEachTime) {
    auto first = sdbus::createSessionBusConnectionWithAddress(m_bus.Address());
    auto second = sdbus::createSessionBusConnectionWithAddress(m_bus.Address());
    EXPECT_EQ(Create(*first, "Test.Shared.1"), "/com/zelto/Test/Shared");
    EXPECT_EQ(Create(*second, "{6A0B7C1D-2E3F-4A5B-8C6D-7E8F9A0B1C10}"), "/com/zelto/Test/Shared")
        << "a class id in registry form names the class too";
    const std::string one = Create(*first, "Test.PerRequest");
    const std::string two = Create(*second, "Test.PerRequest.1");
    EXPECT_NE(one, two);
    EXPECT_EQ(m_references, 4u);

    // The exported object answers its typed interface.
    auto proxy = sdbus::createProxy(*first, k_service, one);
    sdbus::MethodCall echo = proxy->createMethodCall("com.zelto.Test.IBusProbe", "Echo");
    CQBusValueCodec::WriteVariant(echo, VARIANT(LONG{3}));
    sdbus::MethodReply reply = proxy->callMethod(echo);
    EXPECT_EQ(CQBusValueCodec::ReadVariant(reply), VARIANT(LONG{3}));

    try {
        Create(*first, "Test.Unknown");
        ADD_FAILURE() << "an unknown class was made";
    } catch (const sdbus::Error& error) {
        EXPECT_EQ(error.getName(), CQBusError::k_hresultName);
    }
}

TEST_F(QBusClassFactoryTest, ReleaseAndLeavingDropReferencesAndReleaseObjects) {
    const int before = CCountedProbe::s_live;
    auto client = sdbus::createSessionBusConnectionWithAddress(m_bus.Address());
    const std::string path = Create(*client, "Test.PerRequest");
    EXPECT_EQ(CCountedProbe::s_live, before + 1);
    Release(*client, path);
    EXPECT_EQ(m_references, 0u);
    EXPECT_TRUE(Eventually([&] { return CCountedProbe::s_live == before; }));
    EXPECT_THROW(Release(*client, path), sdbus::Error) << "no reference left to drop";

    auto leaving = sdbus::createSessionBusConnectionWithAddress(m_bus.Address());
    Create(*leaving, "Test.PerRequest");
    Create(*leaving, "Test.Shared.1");
    EXPECT_EQ(m_references, 2u);
    leaving.reset();
    EXPECT_TRUE(Eventually([&] { return m_references == 0; }));
    EXPECT_TRUE(Eventually([&] { return CCountedProbe::s_live == before + 1; }))
        << "the shared object stays, the other is released";
}

}  // namespace
}  // namespace qbus::test
