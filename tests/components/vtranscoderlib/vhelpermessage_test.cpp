#include "components/vtranscoderlib/vhelpermessage.h"

#include <gtest/gtest.h>

#include "components/vtranscoderlib/vhelperrequest.h"
#include "components/vtranscoderlib/vreportlines.h"

TEST(HelperMessage, AnyTextSurvivesTheLine) {
    std::string awkward = "a b=c%d\ne\x01\x7f\xc3\xa9";
    CVHelperMessage message(CVHelperMessage::k_result);
    message.Set("msg", awkward).Set("code", int64_t{4}).Set("ratio", 0.25);
    std::string line = message.Format();
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";

    auto parsed = CVHelperMessage::Parse(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Type(), CVHelperMessage::k_result);
    EXPECT_EQ(parsed->Text("msg"), awkward);
    EXPECT_EQ(parsed->Integer("code"), 4);
    EXPECT_EQ(parsed->Real("ratio"), 0.25);
}

TEST(HelperMessage, MissingAndMalformedValuesFallBack) {
    auto parsed = CVHelperMessage::Parse("P pos=12x frames=3 future=1");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Integer("pos", -1), -1);
    EXPECT_EQ(parsed->Integer("frames"), 3);
    EXPECT_EQ(parsed->Integer("dur", 7), 7);
    EXPECT_FALSE(parsed->Has("dur"));
}

TEST(HelperMessage, GarbageIsNoMessage) {
    EXPECT_FALSE(CVHelperMessage::Parse(""));
    EXPECT_FALSE(CVHelperMessage::Parse("Progress 12"));
    EXPECT_FALSE(CVHelperMessage::Parse("P novalue"));
    EXPECT_FALSE(CVHelperMessage::Parse("P =x"));
    EXPECT_FALSE(CVHelperMessage::Parse("P a=%G1"));
    EXPECT_FALSE(CVHelperMessage::Parse("P a=%4"));
    // A type that is no visible character (found by fuzzing: a line break as the type was
    // accepted and formatted as two lines).
    EXPECT_FALSE(CVHelperMessage::Parse("\n dur=1"));
    EXPECT_FALSE(CVHelperMessage::Parse(" "));
    EXPECT_FALSE(CVHelperMessage::Parse(std::string_view("\0 a=1", 5)));
}

TEST(HelperRequest, CommandLineRoundTrips) {
    SVHelperRequest request;
    request.task = EVHelperTask_Convert;
    request.source = "/media/a clip \xc3\xa9.mp4";
    request.output = "/out/.x.part";
    request.outputFormat = 25;
    request.settings.videoWidth = 320;
    request.settings.videoHeight = 240;
    request.settings.frameRate = 29.97;
    request.settings.videoBitRate = 384000;
    request.settings.audioBitRate = 64000;
    request.settings.audioStreams = 2;
    request.settings.imageWidth = 17;
    auto parsed = SVHelperRequest::Parse(request.ToArguments());
    ASSERT_TRUE(std::holds_alternative<SVHelperRequest>(parsed));
    EXPECT_EQ(std::get<SVHelperRequest>(parsed), request);

    SVHelperRequest probe;
    probe.source = "/media/b.jpg";
    parsed = SVHelperRequest::Parse(probe.ToArguments());
    ASSERT_TRUE(std::holds_alternative<SVHelperRequest>(parsed));
    EXPECT_EQ(std::get<SVHelperRequest>(parsed), probe);
}

TEST(HelperRequest, BadCommandLinesAreRefusedWithAReason) {
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{}, Args{"transcode"}, Args{"probe"}, Args{"probe", "--source"},
                             Args{"convert", "--source", "a", "--output", "b"},
                             Args{"convert", "--source", "a", "--output", "b", "--format", "x"},
                             Args{"convert", "--source", "a", "--output", "b", "--format", "9",
                                  "--frame-rate", "fast"},
                             Args{"probe", "--source", "a", "--output", "b"}}) {
        auto parsed = SVHelperRequest::Parse(args);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << ::testing::PrintToString(args);
        EXPECT_FALSE(std::get<std::string>(parsed).empty());
    }
}

TEST(ReportLines, ALongLineInSmallPiecesIsReadInLinearTime) {
    CVReportLines lines(1 << 20);
    const std::string piece(64, 'x');
    size_t total = 0;
    for (int i = 0; i < 16'000; ++i) {  // about a megabyte, 64 bytes at a time
        lines.Append(piece);
        total += piece.size();
        EXPECT_FALSE(lines.Next());
    }
    lines.Append("\nP pos=1\nR co");
    auto line = lines.Next();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->size(), total);
    EXPECT_EQ(lines.Next(), std::optional<std::string_view>("P pos=1"));
    EXPECT_FALSE(lines.Next());
    lines.Append("de=0\n");
    EXPECT_EQ(lines.Next(), std::optional<std::string_view>("R code=0"));
    EXPECT_LE(lines.BytesExamined(), total + 32) << "each byte searched once";
    EXPECT_FALSE(lines.Overlong());
    lines.Append(std::string((1 << 20) + 1, 'y'));
    EXPECT_FALSE(lines.Next());
    EXPECT_TRUE(lines.Overlong());
}
