#include "qlib/qcom/comerror.h"

#include <thread>

#include <gtest/gtest.h>

TEST(ComError, StandardMessageFallsBackToDispatchAndUnknownForms) {
    EXPECT_EQ(_com_error(MakeHResult(0x80070002)).ErrorMessage(), L"No such file or directory");
    EXPECT_EQ(_com_error(MakeHResult(0x80045D53)).ErrorMessage(), L"IDispatch error #23379");
    EXPECT_EQ(_com_error(MakeHResult(0x80040400)).ErrorMessage(), L"IDispatch error #512");
    EXPECT_EQ(_com_error(MakeHResult(0x80AB0001)).ErrorMessage(), L"Unknown error 0x80AB0001");
}

TEST(ComError, ThrowIfFailedTakesTheThreadsErrorInformation) {
    EXPECT_NO_THROW(ThrowIfFailed(S_FALSE));
    SetErrorInfo({L"broken", GUID{1, 2, 3, {}}, L"Some.Class"});
    try {
        ThrowIfFailed(E_FAIL);
        FAIL() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_FAIL);
        EXPECT_EQ(error.Description(), L"broken");
        EXPECT_EQ(error.Source(), L"Some.Class");
        EXPECT_EQ(error.GUID(), (GUID{1, 2, 3, {}}));
    }
    EXPECT_EQ(GetErrorInfo(), std::nullopt) << "taking the information clears it";
}

TEST(ComError, ErrorInformationBelongsToOneThread) {
    SetErrorInfo({L"mine", GUID_NULL, L""});
    std::thread([] { EXPECT_EQ(GetErrorInfo(), std::nullopt); }).join();
    EXPECT_TRUE(GetErrorInfo().has_value());
}
