#include "vtranscodeserver/vtranscodeserviceobj.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "components/veventlib/veventlib.h"
#include "components/veventlib/veventsinkdispatch.h"
#include "components/vitemslib/vitemslib.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qstring.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/vtranscodeserver/veventrecorder.h"
#include "tests/vtranscodeserver/vscriptedtranscoder.h"
#include "tests/vtranscodeserver/vtesttranscodeitem.h"
#include "vtranscodeserver/vsavefile.h"
#include "vtranscodeserver/vtranscodeserviceevent.h"

namespace {

using Event = CVTranscodeServiceEvent;
using Step = CEventRecorder::Step;

class TranscodeServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        CVItemsLib::RegisterClasses();
        CVEventLib::RegisterClasses();
        qsys::test::WriteFile(m_folder.Path() + "/clip.avi", "not really a clip");
        ASSERT_EQ(CreateComObject(&m_service), S_OK);
        m_recorder = CEventRecorder::AdviseOn(static_cast<IVTranscodeService*>(m_service.Get()));
    }

    void TearDown() override {
        CScriptedTranscoder::Release(k_transcodeCompleted);  // a test that failed midway
    }

    IVTranscodeService* Service() { return m_service.Get(); }
    IVTranscodeServiceAdmin* Admin() { return m_service.Get(); }
    IVTranscodeServiceCtrl* Control() { return m_service.Get(); }

    std::wstring Path(const std::string& name) const {
        return CQStringHelper::MultiByteToString(m_folder.Path() + "/" + name);
    }
    std::wstring SaveFile() const { return Path("Zelto/VPlatform/TranscodeQueue.sav"); }

    LONG AddFile(LONG priority = EVTranscodePriority_Normal, ULONG format = 9,
                 const VARIANT& productCode = VARIANT::Missing()) {
        return ComCall(Service(), &IVTranscodeService::AddFile, Path("clip.avi"), Path("out.mp4"),
                       priority, format, productCode);
    }
    static void Script(SJobScript job) {
        CScriptedTranscoder::SScript& script = CScriptedTranscoder::Script();
        const std::lock_guard lock(script.lock);
        script.jobs.push_back(std::move(job));
    }
    LONG State() { return ComCall(Service(), &IVTranscodeService::GetState); }
    bool Pause() { return ComCall(Control(), &IVTranscodeServiceCtrl::Pause) == VARIANT_TRUE; }
    bool Continue() {
        return ComCall(Control(), &IVTranscodeServiceCtrl::Continue) == VARIANT_TRUE;
    }
    bool Abort() { return ComCall(Control(), &IVTranscodeServiceCtrl::Abort) == VARIANT_TRUE; }
    // The job ids in the save file: the current one (0 for none), then the queued ones.
    std::vector<int> SavedIds() {
        const std::string bytes =
            qsys::test::ReadFile(CQStringHelper::StringToMultiByte(SaveFile()));
        pugi::xml_document document;
        EXPECT_TRUE(document.load_buffer(bytes.data(), bytes.size()));
        std::vector<int> ids{document.child("items").child("current").attribute("id").as_int()};
        for (const pugi::xml_node entry : document.child("items").child("queue").children()) {
            ids.push_back(entry.attribute("id").as_int());
        }
        return ids;
    }
    // Waits for the worker to be idle after its last job.
    void WaitUntilIdle() {
        const auto deadline = std::chrono::steady_clock::now() + k_patience;
        while (State() != EVTranscodeServiceState_Idle &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    qsys::test::TemporaryFolder m_folder;
    qsys::test::ScopedEnvironment m_dataHome{"XDG_DATA_HOME", m_folder.Path()};
    qsys::test::ScopedEnvironment m_registry{"ZELTO_REGISTRY_DIR", m_folder.Path() + "/registry"};
    CTestTranscodeItemClass m_itemClass;
    CScriptedTranscoderClass m_transcoderClass;
    CComPtr<CEventRecorder> m_recorder;
    CComPtr<CVTranscodeService> m_service;
};

TEST_F(TranscodeServiceTest, JobsRunInTurnWithTheirEvents) {
    // The first job holds until its forwarded notifications have reached the client, so that
    // none is still on its way when the job ends. Type 5 is not a service event.
    Script({{1, 4, 5, 4}, [&] { m_recorder->WaitForCount(6); }});
    Script({.result = k_transcodeAborted});
    Script({.result = 5});
    const LONG completed = AddFile();
    const LONG aborted = AddFile();
    const LONG failed = AddFile();
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Error, failed));
    WaitUntilIdle();

    EXPECT_EQ(m_recorder->Steps(), (std::vector<Step>{{8, completed},
                                                      {8, aborted},
                                                      {8, failed},
                                                      {1, completed},
                                                      {4, completed},
                                                      {4, completed},
                                                      {2, completed},
                                                      {7, aborted},
                                                      {3, failed}}));
    const std::vector<SEvent> events = m_recorder->Events();
    const SEvent& done = events[6];
    EXPECT_EQ(done.names, (std::vector<std::wstring>{Event::k_type, Event::k_itemId,
                                                     Event::k_inFile, Event::k_outFile,
                                                     Event::k_outFormat, Event::k_timeStamp}));
    EXPECT_EQ(done.values.at(Event::k_inFile).Get<BSTR>(), Path("clip.avi"));
    EXPECT_EQ(done.values.at(Event::k_outFile).Get<BSTR>(), Path("out.mp4"));
    EXPECT_EQ(done.values.at(Event::k_outFormat), VARIANT(int32_t{9}));
    EXPECT_EQ(done.values.at(Event::k_timeStamp).Vt(), VT_UI4);
    const SEvent& progress = events[4];
    EXPECT_EQ(progress.values.at(Event::k_type), VARIANT(int32_t{4}));  // sent as VT_I2
    EXPECT_TRUE(progress.Has(L"Percent"));
    EXPECT_FALSE(events[8].Has(Event::k_errorDescription));
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetCurrent), -1);
    EXPECT_EQ(SavedIds(), std::vector<int>{0});
}

TEST_F(TranscodeServiceTest, PriorityDecidesOrderAndTheTranscodeArgument) {
    Script({.hold = true});  // keeps the worker busy while the others are queued
    AddFile(EVTranscodePriority_High);
    ASSERT_TRUE(CScriptedTranscoder::WaitUntilHolding());
    for (const LONG priority : {1, 2, 0, 3, -1}) {
        AddFile(priority);
    }
    // A client's own item is copied, not queued.
    const CComPtr<IVTranscodeItem> own = CTestTranscodeItem::Make(Path("clip.avi"), L"/o.mp4");
    ComCall(Service(), &IVTranscodeService::Add, own.Get(), LONG{2});
    CScriptedTranscoder::Release(k_transcodeCompleted);
    ASSERT_TRUE(m_recorder->WaitForCount(14));  // 7 Added, 7 Completed
    WaitUntilIdle();
    const CScriptedTranscoder::SScript& script = CScriptedTranscoder::Script();
    // Served 3, 3, 2, 2, 1, 0, -1: low and normal pass -1, the others 0.
    EXPECT_EQ(script.priorities, (std::vector<SHORT>{0, 0, -1, -1, -1, 0, 0}));
}

TEST_F(TranscodeServiceTest, PauseContinueAndAbortFollowTheRunningJob) {
    EXPECT_FALSE(Pause());
    EXPECT_FALSE(Continue());
    EXPECT_FALSE(Abort());
    EXPECT_EQ(State(), EVTranscodeServiceState_Idle);

    Script({.notifications = {1}, .hold = true});
    const LONG job = AddFile();
    EXPECT_EQ(SavedIds(), (std::vector<int>{0, job}));
    ASSERT_TRUE(CScriptedTranscoder::WaitUntilHolding());
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetCurrent), job);
    EXPECT_EQ(SavedIds(), std::vector<int>{job});
    EXPECT_EQ(State(), EVTranscodeServiceState_Running);
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Started, job));

    EXPECT_TRUE(Pause());
    EXPECT_EQ(State(), EVTranscodeServiceState_Paused);
    EXPECT_TRUE(Continue());
    EXPECT_FALSE(Continue());
    EXPECT_EQ(State(), EVTranscodeServiceState_Running);
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Continued, job));
    EXPECT_TRUE(Abort());
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Aborted, job));
    WaitUntilIdle();
    EXPECT_EQ(m_recorder->Steps(),
              (std::vector<Step>{{8, job}, {1, job}, {5, job}, {6, job}, {7, job}}));
    EXPECT_EQ(SavedIds(), std::vector<int>{0});
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetCurrent), -1);
}

TEST_F(TranscodeServiceTest, ClearWhileAJobRunsAbortsItAndStartsNoOther) {
    Script({.hold = true});
    const LONG running = AddFile();
    const LONG waiting = AddFile();
    ASSERT_TRUE(CScriptedTranscoder::WaitUntilHolding());
    ComCall(Admin(), &IVTranscodeServiceAdmin::Close, VARIANT_TRUE);
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Cleared));
    EXPECT_EQ(m_recorder->Steps(),
              (std::vector<Step>{{8, running}, {8, waiting}, {7, running}, {10, 0}}));
    EXPECT_EQ(State(), EVTranscodeServiceState_Uninitialized);
    // The save file written by Close keeps both jobs.
    EXPECT_EQ(SavedIds(), (std::vector<int>{running, waiting}));
    // Closed: no new jobs.
    LONG id = 0;
    ASSERT_EQ(Service()->AddFile(Path("clip.avi"), Path("o.mp4"), 2, 9, VARIANT::Missing(), &id),
              E_QEXCEPTION);
}

TEST_F(TranscodeServiceTest, AJobTakenAfterAStopRequestProducesNothing) {
    // The first job finishes only once a Clear on another thread has asked the worker to stop
    // (its abort reached the transcoder); the second job is waiting then.
    std::thread clearing;
    Script({.hook = [&] {
        clearing = std::thread([&] { m_service->Clear(); });
        CScriptedTranscoder::SScript& script = CScriptedTranscoder::Script();
        std::unique_lock lock(script.lock);
        script.changed.wait_for(lock, k_patience, [&] { return script.abortCalls > 0; });
    }});
    const LONG first = AddFile();
    const LONG second = AddFile();
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Cleared));
    clearing.join();
    EXPECT_EQ(m_recorder->Steps(),
              (std::vector<Step>{{8, first}, {8, second}, {2, first}, {10, 0}}));
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetCount), 1);  // kept, not dropped
    EXPECT_EQ(CScriptedTranscoder::Script().priorities.size(), 1u);
}

TEST_F(TranscodeServiceTest, InitWhileAJobRunsNeitherWaitsNorQueuesItTwice) {
    Script({.hold = true});
    const LONG running = AddFile();
    const LONG waiting = AddFile();
    ASSERT_TRUE(CScriptedTranscoder::WaitUntilHolding());
    ComCall(Admin(), &IVTranscodeServiceAdmin::Init, L"", SaveFile(),
            VARIANT(int32_t{EVTranscodeServiceFlags_AutoSave | EVTranscodeServiceFlags_AutoLoad}));
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetCount), 1);
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetNext), waiting);
    CScriptedTranscoder::Release(k_transcodeCompleted);
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Completed, waiting));
    WaitUntilIdle();
    EXPECT_EQ(m_recorder->Steps(),
              (std::vector<Step>{{8, running}, {8, waiting}, {13, 0}, {2, running}, {2, waiting}}));
}

TEST_F(TranscodeServiceTest, AFailingSaveReachesTheCallerAndLosesNoJob) {
    Script({.hold = true});
    const LONG running = AddFile();
    ASSERT_TRUE(CScriptedTranscoder::WaitUntilHolding());
    {
        const CVSaveFile::WriteFailure previous =
            CVSaveFile::SetWriteFailure([](const std::wstring&) { return ENOSPC; });
        LONG id = 0;
        EXPECT_EQ(
            Service()->AddFile(Path("clip.avi"), Path("o.mp4"), 2, 9, VARIANT::Missing(), &id),
            E_QEXCEPTION);
        EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetCount), 0);
        CScriptedTranscoder::Release(k_transcodeCompleted);  // its end cannot be saved either
        ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Completed, running));
        WaitUntilIdle();
        CVSaveFile::SetWriteFailure(previous);
    }
    EXPECT_EQ(m_recorder->Steps(), (std::vector<Step>{{8, running}, {2, running}}));
    const LONG next = AddFile();
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Completed, next));
}

TEST_F(TranscodeServiceTest, QueueFilesAndEventsWithoutAJob) {
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetNext), -1);
    EXPECT_EQ(ComCall(Admin(), &IVTranscodeServiceAdmin::SaveQueue, L""), VARIANT_FALSE);
    EXPECT_EQ(ComCall(Admin(), &IVTranscodeServiceAdmin::LoadQueue, Path("none.sav"), VARIANT_TRUE),
              VARIANT_FALSE);
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::Remove, LONG{12345}), VARIANT_FALSE);
    EXPECT_EQ(ComCall(Admin(), &IVTranscodeServiceAdmin::SaveQueue, Path("copy.sav")),
              VARIANT_TRUE);
    EXPECT_EQ(ComCall(Admin(), &IVTranscodeServiceAdmin::LoadQueue, Path("copy.sav"), VARIANT_TRUE),
              VARIANT_TRUE);
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_QueueLoaded));
    const std::vector<SEvent> events = m_recorder->Events();
    ASSERT_EQ(events.size(), 2u);
    for (const SEvent& event : events) {
        EXPECT_EQ(event.names, (std::vector<std::wstring>{Event::k_type, Event::k_timeStamp}));
    }
    EXPECT_EQ(m_recorder->Steps(), (std::vector<Step>{{12, 0}, {13, 0}}));
}

TEST_F(TranscodeServiceTest, MediaQuestionsAreAnswered) {
    IVTranscodeInfo* info = m_service.Get();
    EXPECT_EQ(ComCall(info, &IVTranscodeInfo::GetMIME, L"/music/a.M4A"), L"audio/mp4");
    EXPECT_EQ(ComCall(info, &IVTranscodeInfo::IsDRM, Path("missing.wmv")), VARIANT_FALSE);
    VARIANT formats;
    EXPECT_EQ(info->GetOutputFormatsForItem(L"KA-320", nullptr, nullptr, &formats), E_QEXCEPTION);
}

TEST_F(TranscodeServiceTest, ProfileBasedFormatsAreResolvedFromTheDeviceProfile) {
    const std::string video = "width=\"320\" height=\"240\" framerate=\"15\" bitrate=\"64000\"";
    qsys::test::WriteFile(
        m_folder.Path() + "/profiles.xml",
        "<profiles><profiletable>"
        "<profileset mime=\"video/3gpp\"><profile id=\"1\" " +
            video +
            " codec=\"h263\"/>"
            "</profileset><profileset mime=\"video/mp4\"><profile id=\"1\" " +
            video + " codec=\"AVC\"/><profile id=\"2\" " + video +
            " codec=\"h263\"/></profileset>"
            "<profileset mime=\"image/tiff\"><profile id=\"1\" width=\"9\" height=\"9\"/>"
            "</profileset></profiletable><profilemap><mcinfo productcode=\"DEV\">"
            "<video><low><profile mime=\"video/3gpp\" profileid=\"1\"/></low>"
            "<medium><profile mime=\"video/mp4\" profileid=\"1\"/></medium>"
            "<high><profile mime=\"video/mp4\" profileid=\"2\"/></high></video>"
            "<image><low><profile mime=\"image/tiff\" profileid=\"1\"/></low></image>"
            "</mcinfo></profilemap></profiles>");
    ComCall(Admin(), &IVTranscodeServiceAdmin::Init, Path("profiles.xml"), SaveFile(),
            VARIANT::Missing());
    Script({.hold = true});  // nothing runs before the test has looked

    LONG id = 0;
    EXPECT_EQ(Service()->AddFile(Path("clip.avi"), Path("o.mp4"), 2, 7, VARIANT::Missing(), &id),
              E_QEXCEPTION);
    EXPECT_EQ(AddFile(2, 19, VARIANT(L"DEV")), -1);  // image/tiff is no output of ours
    EXPECT_EQ(AddFile(2, 7, VARIANT(L"")), -1);
    const LONG low = AddFile(2, 6, VARIANT(L"DEV"));
    const LONG medium = AddFile(2, 7, VARIANT(L"dev"));
    const LONG high = AddFile(2, 8, VARIANT(L"DEV"));
    const LONG concrete = AddFile(2, 9);  // needs no product code
    ASSERT_TRUE(m_recorder->WaitFor(EVTranscodeServiceEvent_Added, concrete));
    std::map<LONG, VARIANT> formats;
    for (const SEvent& event : m_recorder->Events()) {
        formats[event.ItemId().value_or(0)] = event.values.at(Event::k_outFormat);
    }
    EXPECT_EQ(formats, (std::map<LONG, VARIANT>{{low, VARIANT(int32_t{25})},
                                                {medium, VARIANT(int32_t{10})},
                                                {high, VARIANT(int32_t{9})},
                                                {concrete, VARIANT(int32_t{9})}}));

    CScriptedTranscoder::SScript& script = CScriptedTranscoder::Script();
    {
        const std::lock_guard lock(script.lock);
        script.canTranscode = false;
    }
    EXPECT_EQ(AddFile(2, 9), -1);
    EXPECT_EQ(Service()->AddFile(Path("missing.avi"), Path("o.mp4"), 2, 9, VARIANT::Missing(), &id),
              E_QEXCEPTION);
    EXPECT_EQ(m_recorder->Events().size(), 4u);
}

TEST_F(TranscodeServiceTest, RestartFindsTheQueueAgain) {
    Script({.hold = true});
    const LONG running = AddFile();
    const LONG waiting = AddFile(EVTranscodePriority_Low);
    ASSERT_TRUE(CScriptedTranscoder::WaitUntilHolding());
    // The process dies here: the save file is all that is left.
    const std::string saved = qsys::test::ReadFile(CQStringHelper::StringToMultiByte(SaveFile()));
    CScriptedTranscoder::Release(k_transcodeAborted);
    m_service = nullptr;
    qsys::test::WriteFile(CQStringHelper::StringToMultiByte(SaveFile()), saved);

    ASSERT_EQ(CreateComObject(&m_service), S_OK);
    ComCall(Admin(), &IVTranscodeServiceAdmin::Init, L"", SaveFile(),
            VARIANT(int32_t{EVTranscodeServiceFlags_AutoSave | EVTranscodeServiceFlags_AutoLoad}));
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetNext), running);
    EXPECT_EQ(ComCall(Service(), &IVTranscodeService::GetCount), 2);
    (void)waiting;
}

}  // namespace
