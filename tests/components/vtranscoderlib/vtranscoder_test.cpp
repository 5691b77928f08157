// The transcoder component as the service drives it: created by class id, given an item,
// asked whether it can run it, running it with Started, Progress and Continued notifications to
// its connected sinks, paused, continued and aborted from another thread, and describing files.

#include "components/vtranscoderlib/vtranscoder.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "components/vitemslib/vitemwalk.h"
#include "components/vtranscoderlib/vtranscodercomponent.h"
#include "qlib/qsys/textcodec.h"
#include "qlib/qutilitylib/qcomutilities.h"
#include "vtestmedia.h"

namespace {

using namespace std::chrono_literals;

// One notification as a sink received it: "Type" and every other property by name.
struct SReceived {
    LONG type = 0;
    std::map<std::wstring, VARIANT> values;
    std::chrono::steady_clock::time_point when;

    double Number(const std::wstring& name) const { return values.at(name).Get<double>(); }
};

// A listener that records what reaches it and lets the test wait for it.
class CRecordingSink final : public CComObjectBase<IDispatch> {
public:
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, const InterfaceInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, const wchar_t* const*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT Invoke(DISPID dispId, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        EXPECT_EQ(dispId, k_eventMethodDispId);
        EXPECT_EQ(params->cArgs, 1u);
        CComPtr<IVItem> item;
        EXPECT_EQ(CComPtr<IUnknown>(params->rgvarg[0].Unknown()).QueryInterface(&item), S_OK);
        SReceived received = Record(item);
        const std::lock_guard lock(m_mutex);
        m_received.push_back(std::move(received));
        m_changed.notify_all();
        return S_OK;
    }

    // Waits for a notification of that type after the first `skip` notifications.
    bool WaitFor(LONG type, size_t skip = 0) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 60s, [&] {
            for (size_t index = skip; index < m_received.size(); ++index) {
                if (m_received[index].type == type) {
                    return true;
                }
            }
            return false;
        });
    }
    std::vector<SReceived> Received() {
        const std::lock_guard lock(m_mutex);
        return m_received;
    }

protected:
    void* QueryAdditionalInterface(REFIID iid) override {
        return iid == DIID_IVEventListener ? static_cast<IDispatch*>(this) : nullptr;
    }

private:
    static SReceived Record(IVItem* item) {
        SReceived received{0, {}, std::chrono::steady_clock::now()};
        ForEachProperty(item, [&](const BSTR& name, const BSTR& uri, const VARIANT& value) {
            EXPECT_EQ(uri, k_transcodeNamespace) << qsys::ToUtf8(name);
            received.values[name] = value;
            return true;
        });
        received.type = received.values.at(L"Type").Get<int32_t>();
        return received;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<SReceived> m_received;
};

// A transcode item whose GetSourcePath waits until the test opens the gate, so that the test
// can act while the transcoder is still reading the job; everything else goes to a real item.
class CGatedItem final : public CComObjectBase<IVTranscodeItemData> {
public:
    explicit CGatedItem(CComPtr<IVTranscodeItemData> inner) : m_inner(std::move(inner)) {}

    // Waits until a reader is held at the gate.
    bool WaitForReader() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 60s, [&] { return m_waiting; });
    }
    void Open() {
        const std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

    HRESULT GetSourcePath(BSTR* path) override {
        std::unique_lock lock(m_mutex);
        m_waiting = true;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_open; });
        return m_inner->GetSourcePath(path);
    }
    HRESULT SetSourcePath(BSTR path) override { return m_inner->SetSourcePath(path); }
    HRESULT GetDestinationPath(BSTR* path) override { return m_inner->GetDestinationPath(path); }
    HRESULT SetDestinationPath(BSTR path) override { return m_inner->SetDestinationPath(path); }
    HRESULT GetOutputFormat(LONG* format) override { return m_inner->GetOutputFormat(format); }
    HRESULT SetOutputFormat(LONG format) override { return m_inner->SetOutputFormat(format); }
    HRESULT GetProductCode(BSTR* code) override { return m_inner->GetProductCode(code); }
    HRESULT SetProductCode(BSTR code) override { return m_inner->SetProductCode(code); }
    HRESULT GetVideoSettings(LONG* width, LONG* height, double* rate, LONG* bitRate) override {
        return m_inner->GetVideoSettings(width, height, rate, bitRate);
    }
    HRESULT CopyFrom(IVTranscodeItemData* other) override { return m_inner->CopyFrom(other); }
    HRESULT GetAudioSettings(LONG* bitRate, UINT* count) override {
        return m_inner->GetAudioSettings(bitRate, count);
    }
    HRESULT SetVideoSettings(LONG width, LONG height, double rate, LONG bitRate,
                             SHORT* result) override {
        return m_inner->SetVideoSettings(width, height, rate, bitRate, result);
    }
    HRESULT GetImageSize(LONG* width, LONG* height) override {
        return m_inner->GetImageSize(width, height);
    }
    HRESULT SetAudioSettings(LONG bitRate, const VARIANT& count, SHORT* result) override {
        return m_inner->SetAudioSettings(bitRate, count, result);
    }
    HRESULT SetImageSize(LONG width, LONG height, SHORT* result) override {
        return m_inner->SetImageSize(width, height, result);
    }
    HRESULT GetItemXML(BSTR* xml) override { return m_inner->GetItemXML(xml); }
    HRESULT LoadItemXML(BSTR xml, VARIANT_BOOL* loaded) override {
        return m_inner->LoadItemXML(xml, loaded);
    }

private:
    const CComPtr<IVTranscodeItemData> m_inner;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_waiting = false;  // guarded by m_mutex
    bool m_open = false;     // guarded by m_mutex
};

class TranscoderTest : public testing::Test {
protected:
    void SetUp() override {
        CVTranscoderComponent::RegisterClasses();
        m_transcoder =
            CQCOMUtils::CreateObject<IVTranscoder>(CLSID_VTranscoder, k_transcoderDisplayName);
        ASSERT_EQ(CreateComObject(&m_sink), S_OK);
        CComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(m_transcoder.QueryInterface(&container), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(DIID_IVEventListener, &m_point), S_OK);
        ASSERT_EQ(m_point->Advise(m_sink->GetUnknown(), &m_cookie), S_OK);
    }
    void TearDown() override { EXPECT_EQ(m_point->Unadvise(m_cookie), S_OK); }

    // Gives the transcoder a job and answers its item.
    CComPtr<IVTranscodeItemData> SetJob(const std::wstring& source, const std::wstring& destination,
                                        LONG format, LONG width = 0, LONG height = 0) {
        CComPtr<IVTranscodeItemData> data = CQCOMUtils::CreateObject<IVTranscodeItemData>(
            CLSID_VTranscodeItem, k_transcodeItemDisplayName);
        CComPtr<IVTranscodeItem> item;
        EXPECT_EQ(data.QueryInterface(&item), S_OK);
        SHORT result = -1;
        EXPECT_EQ(item->Initialize(source, destination, format, VARIANT(L""), &result), S_OK);
        EXPECT_EQ(data->SetVideoSettings(width, height, 0.0, 0, &result), S_OK);
        EXPECT_EQ(m_transcoder->SetItem(data), S_OK);
        return data;
    }
    bool CanTranscode() {
        VARIANT_BOOL result = VARIANT_FALSE;
        EXPECT_EQ(m_transcoder->CanTranscode(&result), S_OK);
        return result == VARIANT_TRUE;
    }
    LONG Transcode() {
        LONG result = -1;
        EXPECT_EQ(m_transcoder->Transcode(VARIANT(int16_t{0}), &result), S_OK);
        return result;
    }
    std::wstring LastError() {
        BSTR message;
        EXPECT_EQ(m_transcoder->GetLastError(&message), S_OK);
        return message;
    }
    bool Call(HRESULT (IVTranscoder::*method)(VARIANT_BOOL*)) {
        VARIANT_BOOL result = VARIANT_FALSE;
        EXPECT_EQ((m_transcoder.Get()->*method)(&result), S_OK);
        return result == VARIANT_TRUE;
    }
    void MakeLongSource() {
        m_media.Make("long.mkv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=60",
                                  "-c:v", "mpeg4", "-q:v", "8"});
    }

    CVTestMedia m_media;
    CComPtr<IVTranscoder> m_transcoder;
    CComPtr<CRecordingSink> m_sink;
    CComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};

}  // namespace

TEST_F(TranscoderTest, AClipIsConvertedWithStartedAndProgressNotifications) {
    m_media.Video("clip.mp4", 2.0, 320, 240, 25);
    SetJob(m_media.Path("clip.mp4"), m_media.Path("out.mp4"), 10, 176, 144);
    ASSERT_TRUE(CanTranscode());
    EXPECT_EQ(Transcode(), k_transcodeCompleted) << qsys::ToUtf8(LastError());
    EXPECT_EQ(LastError(), L"");

    const SVInspection output = CVTestMedia::Inspect(m_media.Folder() / "out.mp4");
    EXPECT_EQ(output.First("video").codec, "h264");
    EXPECT_LE(output.First("video").width, 176);

    const std::vector<SReceived> received = m_sink->Received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received.front().type, EVTranscoderNotification_Started);
    double lastPercent = -1.0;
    for (size_t index = 1; index < received.size(); ++index) {
        const SReceived& progress = received[index];
        ASSERT_EQ(progress.type, EVTranscoderNotification_Progress);
        for (const wchar_t* name : {L"Percent", L"Position", L"Duration", L"FramesPerSecond",
                                    L"ActiveTime", L"TimeLeft"}) {
            EXPECT_EQ(progress.values.at(name).Vt(), VT_R8) << qsys::ToUtf8(name);
        }
        EXPECT_EQ(progress.values.at(L"Frames").Vt(), VT_I8);
        EXPECT_GE(progress.Number(L"Percent"), lastPercent);
        EXPECT_LE(progress.Number(L"Percent"), 100.0);
        EXPECT_NEAR(progress.Number(L"Duration"), 2.0, 0.1);
        lastPercent = progress.Number(L"Percent");
    }
}

TEST_F(TranscoderTest, PauseHoldsTheJobContinueNotifiesAndAbortEndsItFromAnotherThread) {
    MakeLongSource();
    SetJob(m_media.Path("long.mkv"), m_media.Path("out/long.mp4"), 10, 320, 240);
    LONG result = -1;
    std::thread worker([&] { result = Transcode(); });

    ASSERT_TRUE(m_sink->WaitFor(EVTranscoderNotification_Progress));
    ASSERT_TRUE(Call(&IVTranscoder::Pause));
    EXPECT_FALSE(Call(&IVTranscoder::Pause)) << "paused already";
    std::this_thread::sleep_for(500ms);  // a report on its way when pausing may still arrive
    const size_t whilePaused = m_sink->Received().size();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(m_sink->Received().size(), whilePaused) << "no progress while paused";
    const SReceived beforePause = m_sink->Received().back();

    ASSERT_TRUE(Call(&IVTranscoder::Continue));
    EXPECT_FALSE(Call(&IVTranscoder::Continue)) << "running already";
    // The first report after resuming may still have no estimate: wait for the second.
    ASSERT_TRUE(m_sink->WaitFor(EVTranscoderNotification_Progress, whilePaused + 2));
    const std::vector<SReceived> received = m_sink->Received();
    EXPECT_EQ(received[whilePaused].type, EVTranscoderNotification_Continued);
    const SReceived& resumed = received.back();
    const double wallSeconds =
        std::chrono::duration<double>(resumed.when - beforePause.when).count();
    const double activeSeconds = resumed.Number(L"ActiveTime") - beforePause.Number(L"ActiveTime");
    EXPECT_LT(activeSeconds, wallSeconds - 1.5) << "the paused time does not count";
    EXPECT_GT(resumed.Number(L"TimeLeft"), 0.0);

    ASSERT_TRUE(Call(&IVTranscoder::Abort));
    worker.join();
    EXPECT_EQ(result, k_transcodeAborted);
    EXPECT_FALSE(Call(&IVTranscoder::Abort)) << "nothing runs";
    EXPECT_FALSE(Call(&IVTranscoder::Pause));
    EXPECT_FALSE(std::filesystem::exists(m_media.Folder() / "out")) << "no output left";
}

TEST_F(TranscoderTest, AnAbortWhileTheJobIsStillBeingReadIsNotLost) {
    m_media.Video("clip.mp4", 1.0, 160, 120, 10);
    CComPtr<CGatedItem> gated;
    ASSERT_EQ(
        CreateComObject(&gated, SetJob(m_media.Path("clip.mp4"), m_media.Path("out.mp4"), 10)),
        S_OK);
    ASSERT_EQ(m_transcoder->SetItem(gated), S_OK);
    LONG result = -1;
    std::thread worker([&] { result = Transcode(); });
    ASSERT_TRUE(gated->WaitForReader());
    EXPECT_TRUE(Call(&IVTranscoder::Abort));
    gated->Open();
    worker.join();
    EXPECT_EQ(result, k_transcodeAborted);
    EXPECT_FALSE(std::filesystem::exists(m_media.Folder() / "out.mp4"));
    EXPECT_TRUE(m_sink->Received().empty()) << "nothing started";
}

TEST_F(TranscoderTest, AFailedJobAnswersItsResultAndTheEnginesMessage) {
    m_media.Text("notes.mp4", "not a video at all");
    SetJob(m_media.Path("notes.mp4"), m_media.Path("out.mp4"), 10);
    EXPECT_EQ(Transcode(), EVTranscodeResult_InputUnreadable);
    EXPECT_NE(LastError(), L"");
    EXPECT_FALSE(std::filesystem::exists(m_media.Folder() / "out.mp4"));

    m_media.Video("clip.mp4", 1.0, 160, 120, 10);
    SetJob(m_media.Path("clip.mp4"), m_media.Path("out.mp4"), 12345);
    const size_t before = m_sink->Received().size();
    EXPECT_EQ(Transcode(), EVTranscodeResult_UnsupportedSettings);
    EXPECT_NE(LastError().find(L"12345"), std::wstring::npos) << qsys::ToUtf8(LastError());
    EXPECT_EQ(m_sink->Received().size(), before) << "no job started";

    const CComPtr<IVTranscoder> empty = CQCOMUtils::CreateObject<IVTranscoder>(CLSID_VTranscoder);
    LONG result = 0;
    EXPECT_EQ(empty->Transcode(VARIANT(int16_t{-1}), &result), E_QEXCEPTION) << "no item";
}

TEST_F(TranscoderTest, CanTranscodeRefusesJobsThatCannotRun) {
    EXPECT_FALSE(CanTranscode()) << "no item";
    m_media.Video("clip.mp4", 1.0, 160, 120, 10);
    m_media.Text("plain.txt", "x");
    std::filesystem::create_directory(m_media.Folder() / "folder");
    ASSERT_EQ(::mkfifo((m_media.Folder() / "fifo.mp4").c_str(), 0600), 0);
    std::filesystem::create_symlink(m_media.Folder() / "clip.mp4", m_media.Folder() / "link.mp4");

    SetJob(m_media.Path("clip.mp4"), m_media.Path("out.mp4"), 10);
    EXPECT_TRUE(CanTranscode());
    SetJob(m_media.Path("link.mp4"), m_media.Path("out.mp4"), 10);
    EXPECT_TRUE(CanTranscode()) << "a link to a regular file is followed";

    const std::wstring clip = m_media.Path("clip.mp4");
    const std::wstring out = m_media.Path("out.mp4");
    const std::vector<std::tuple<std::wstring, std::wstring, LONG, const char*>> refused = {
        {clip, out, 12345, "unknown format code"},
        {clip, out, 7, "a profile-based code"},
        {m_media.Path("missing.mp4"), out, 10, "missing source"},
        {m_media.Path("folder"), out, 10, "source is a folder"},
        {m_media.Path("fifo.mp4"), out, 10, "source is a FIFO"},
        {L"", out, 10, "no source"},
        {clip, m_media.Path("missing/out.mp4"), 10, "destination folder missing"},
        {clip, m_media.Path("plain.txt/out.mp4"), 10, "destination folder is a file"},
        {clip, m_media.Path("folder"), 10, "destination is a folder"},
        {clip, m_media.Path("folder/"), 10, "destination names no file"},
        {clip, clip, 10, "destination is the source"},
        {clip, m_media.Path("link.mp4"), 10, "destination is the source through a link"},
        {clip, L"", 10, "no destination"},
    };
    for (const auto& [source, destination, format, what] : refused) {
        SetJob(source, destination, format);
        EXPECT_FALSE(CanTranscode()) << what;
    }
}

TEST_F(TranscoderTest, FileInfoHasExactlyTheDescribedPropertiesAndFormatsAreAnswered) {
    m_media.Video("clip.mp4", 1.0, 320, 240, 25);
    CComPtr<IVItem> info;
    ASSERT_EQ(m_transcoder->GetFileInfo(m_media.Path("clip.mp4"), &info), S_OK);
    BSTR className;
    ASSERT_EQ(info->GetClassName(&className), S_OK);
    EXPECT_EQ(className, L"Video");

    std::map<std::pair<std::wstring, std::wstring>, VARIANT> values;
    ForEachProperty(info, [&](const BSTR& name, const BSTR& uri, const VARIANT& value) {
        values[{name, uri}] = value;
        return true;
    });
    const std::wstring metadata = k_metadataNamespace;
    const std::wstring transcode = k_transcodeNamespace;
    EXPECT_EQ(values.size(), 7u);
    const auto value = [&](const wchar_t* name, const std::wstring& uri) {
        return values[std::make_pair(std::wstring(name), uri)];
    };
    EXPECT_EQ(value(L"ItemType", metadata), VARIANT(L"video/mp4"));
    EXPECT_EQ(value(L"Width", metadata), VARIANT(320));
    EXPECT_EQ(value(L"Height", metadata), VARIANT(240));
    EXPECT_NEAR(value(L"Framerate", metadata).Get<double>(), 25.0, 0.01);
    EXPECT_GT(value(L"Bitrate", metadata).Get<int32_t>(), 0);
    EXPECT_EQ(value(L"Codec", transcode), VARIANT(L"avc"));
    EXPECT_EQ(value(L"AudioStreamCount", transcode), VARIANT(1));

    CComPtr<IVItem> none;
    EXPECT_EQ(m_transcoder->GetFileInfo(m_media.Path("missing.mp4"), &none), E_QEXCEPTION);
    EXPECT_FALSE(none);

    VARIANT answer;
    ASSERT_EQ(m_transcoder->GetOutputFormatInfo(10, EVFormatInfo_Extension, &answer), S_OK);
    EXPECT_EQ(answer, VARIANT(L".mp4"));
    ASSERT_EQ(m_transcoder->GetOutputFormatInfo(25, EVFormatInfo_MIMEType, &answer), S_OK);
    EXPECT_EQ(answer, VARIANT(L"video/3gpp"));
    EXPECT_EQ(m_transcoder->GetOutputFormatInfo(12345, EVFormatInfo_MIMEType, &answer),
              E_QEXCEPTION);
    EXPECT_EQ(m_transcoder->GetOutputFormatInfo(10, 7, &answer), E_QEXCEPTION);
}
