#include "qlib/qcom/hresult.h"

#include <cerrno>

#include <gtest/gtest.h>

TEST(HResult, ErrnoMapsToTheWin32NumbersOfFileErrors) {
    EXPECT_EQ(HResultFromErrno(ENOENT), MakeHResult(0x80070002));
    EXPECT_EQ(HResultFromErrno(EACCES), E_ACCESSDENIED);
    EXPECT_EQ(HResultFromErrno(EPERM), E_ACCESSDENIED);
    EXPECT_EQ(HResultFromErrno(EEXIST), MakeHResult(0x800700B7));
    EXPECT_EQ(HResultFromErrno(ENOTEMPTY), MakeHResult(0x80070091));
    EXPECT_EQ(HResultFromErrno(ENOSPC), MakeHResult(0x80070070));
    EXPECT_EQ(HResultFromErrno(EINVAL), E_INVALIDARG);
    EXPECT_EQ(HResultFromErrno(ENOMEM), E_OUTOFMEMORY);
    EXPECT_EQ(HResultFromErrno(EBADMSG), MakeHResult(0x800703F1)) << "a damaged registry file";
    EXPECT_EQ(HResultFromErrno(0), S_OK);
}

TEST(HResult, Win32ValuesKeepNegativeNumbersAsTheyAre) {
    EXPECT_EQ(HRESULT_FROM_WIN32(2), MakeHResult(0x80070002));
    EXPECT_EQ(HRESULT_FROM_WIN32(0), 0);
    EXPECT_EQ(HRESULT_FROM_WIN32(E_FAIL), E_FAIL);
}

TEST(HResult, MessagesComeFromTheSystemOrTheComTable) {
    EXPECT_EQ(HResultMessage(MakeHResult(0x80070002)).value_or(L""), L"No such file or directory");
    EXPECT_EQ(HResultMessage(E_NOINTERFACE).value_or(L""), L"No such interface supported");
    EXPECT_EQ(HResultMessage(MakeHResult(0x80070000u | 9999)), std::nullopt);
    EXPECT_EQ(HResultMessage(MakeHResult(0x80045D53)), std::nullopt);
}
