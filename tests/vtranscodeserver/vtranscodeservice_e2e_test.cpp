// The service with the real transcoder component: a generated clip is queued with AddFile,
// converted in the helper process and reported with the whole event sequence.

#include <gtest/gtest.h>

#include "components/veventlib/veventlib.h"
#include "components/vitemslib/vitemslib.h"
#include "components/vtranscoderlib/vtranscodercomponent.h"
#include "qlib/qcom/comcall.h"
#include "qlib/qutilitylib/qvariant.h"
#include "tests/components/vtranscoderlib/vtestmedia.h"
#include "tests/qlib/qsys/testsupport.h"
#include "tests/vtranscodeserver/veventrecorder.h"
#include "vtranscodeserver/vtranscodeserviceobj.h"

namespace {

TEST(TranscodeServiceWithTranscoder, AddedClipIsConvertedWithItsEvents) {
    CVItemsLib::RegisterClasses();
    CVEventLib::RegisterClasses();
    CVTranscoderComponent::RegisterClasses();
    CVTestMedia media;
    const qsys::test::ScopedEnvironment dataHome("XDG_DATA_HOME", media.Folder().string());
    const qsys::test::ScopedEnvironment registry("ZELTO_REGISTRY_DIR",
                                                 (media.Folder() / "registry").string());
    media.Video("clip.mp4", 2.0, 320, 240, 25);

    CComPtr<CVTranscodeService> service;
    ASSERT_EQ(CreateComObject(&service), S_OK);
    IVTranscodeService* queue = service.Get();
    const CComPtr<CEventRecorder> recorder = CEventRecorder::AdviseOn(queue);
    const LONG job =
        ComCall(queue, &IVTranscodeService::AddFile, media.Path("clip.mp4"), media.Path("out.mp4"),
                LONG{EVTranscodePriority_Normal}, ULONG{9}, VARIANT::Missing());
    ASSERT_GT(job, 0);
    ASSERT_TRUE(recorder->WaitFor(EVTranscodeServiceEvent_Completed, job) ||
                recorder->WaitFor(EVTranscodeServiceEvent_Error, job));

    const std::vector<CEventRecorder::Step> steps = recorder->Steps();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps.front(), CEventRecorder::Step(EVTranscodeServiceEvent_Added, job));
    EXPECT_EQ(steps[1], CEventRecorder::Step(EVTranscodeServiceEvent_Started, job));
    EXPECT_EQ(steps.back(), CEventRecorder::Step(EVTranscodeServiceEvent_Completed, job));
    for (size_t i = 2; i + 1 < steps.size(); ++i) {
        EXPECT_EQ(steps[i], CEventRecorder::Step(EVTranscodeServiceEvent_Progress, job)) << i;
    }
    const SVInspection output = CVTestMedia::Inspect(media.Folder() / "out.mp4");
    EXPECT_EQ(output.Count("video"), 1);
    EXPECT_NEAR(output.durationSeconds, 2.0, 0.5);

    // The format questions describe the file through the same component.
    VARIANT_BOOL mustBeTranscoded = VARIANT_TRUE;
    VARIANT formats;
    ASSERT_EQ(queue->GetOutputFormatsForFile(L"no-such-device", media.Path("clip.mp4"),
                                             &mustBeTranscoded, &formats),
              S_OK);
    EXPECT_EQ(mustBeTranscoded, VARIANT_FALSE);
    EXPECT_EQ(CQVariant::VariantToIntVector(formats), std::vector<int>{1});
    service = nullptr;
}

}  // namespace
