#include "qlib/qutilitylib/qcmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Option {
    std::wstring token;
    bool isSwitch;
    bool isLast;
    bool operator==(const Option&) const = default;
};

class RecordingCmdLine : public CQCmdLine {
public:
    std::vector<Option> options;

protected:
    void OnOption(const std::wstring& token, bool isSwitch, bool isLast) override {
        CQCmdLine::OnOption(token, isSwitch, isLast);
        options.push_back({token, isSwitch, isLast});
    }
};

TEST(CQCmdLine, SplitsSwitchesQuotedTokensAndTheClearArgument) {
    RecordingCmdLine line;
    line.Parse(L"  -Embedding  \"a file\" /cleards \"/tmp/my store\" plain  ");
    const std::vector<Option> expected = {
        {L"Embedding", true, false},
        {L"a file", false, false},
        {L"cleards /tmp/my store", true, false},
        {L"plain", false, true},
    };
    EXPECT_EQ(line.options, expected);
    EXPECT_TRUE(line.IsStartedByClient());
    EXPECT_FALSE(line.IsRegister());
}

TEST(CQCmdLine, RecognisesRegistrationSwitchesInAnyCase) {
    RecordingCmdLine machine;
    machine.Parse(L"/REGSERVER");
    EXPECT_TRUE(machine.IsRegister());
    EXPECT_FALSE(machine.IsPerUser());

    RecordingCmdLine user;
    user.Parse(L"-UnregServerPerUser");
    EXPECT_TRUE(user.IsUnregister());
    EXPECT_TRUE(user.IsPerUser());
}

TEST(CQCmdLine, SurvivesUnterminatedQuotesAndBareSigns) {
    RecordingCmdLine line;
    line.Parse(L"\"open ended -x / -cleards");
    ASSERT_EQ(line.options.size(), 1u);
    EXPECT_EQ(line.options[0].token, L"open ended -x / -cleards");

    RecordingCmdLine signs;
    signs.Parse(L"- / -cleards");
    ASSERT_EQ(signs.options.size(), 3u);
    EXPECT_EQ(signs.options[2].token, L"cleards");
}

TEST(CQCmdLine, JoinIsReadBackAsTheSameArguments) {
    const std::vector<std::wstring> arguments = {L"-cleards", L"/tmp/a b", L"", L"x"};
    RecordingCmdLine line;
    line.Parse(CQCmdLine::Join(arguments));
    ASSERT_EQ(line.options.size(), 3u);
    EXPECT_EQ(line.options[0].token, L"cleards /tmp/a b");
    EXPECT_EQ(line.options[1].token, L"");
    EXPECT_EQ(line.options[2].token, L"x");
}

}  // namespace
