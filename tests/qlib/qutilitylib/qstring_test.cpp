#include "qlib/qutilitylib/qstring.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "qlib/qutilitylib/qbufmalloc.h"

TEST(CQStringHelper, FormatTakesWideStringsForPercentS) {
    const std::wstring method = L"CVTranscodeService::Add";
    const wchar_t* file = L"vtranscodeserviceobj.cpp";
    EXPECT_EQ(CQStringHelper::Format(L"Exception caught in %s (%s : %d)\n", method, file, 42),
              L"Exception caught in CVTranscodeService::Add (vtranscodeserviceobj.cpp : 42)\n");
    EXPECT_EQ(CQStringHelper::Format(L"[%s]", std::wstring_view(L"view")), L"[view]");
    EXPECT_EQ(CQStringHelper::Format(L"[%s]", static_cast<const wchar_t*>(nullptr)), L"[(null)]");
}

TEST(CQStringHelper, FormatKeepsFlagsWidthAndPrecision) {
    EXPECT_EQ(CQStringHelper::Format(L"%02d:%04d", 7, 123), L"07:0123");
    EXPECT_EQ(CQStringHelper::Format(L"0x%04x", 0x1a), L"0x001a");
    EXPECT_EQ(CQStringHelper::Format(L"%-5s|%5s", std::wstring(L"ab"), std::wstring(L"cd")),
              L"ab   |   cd");
    EXPECT_EQ(CQStringHelper::Format(L"%.8f", 1.5), L"1.50000000");
    EXPECT_EQ(CQStringHelper::Format(L"100%% %d", -3), L"100% -3");
}

TEST(CQStringHelper, FormatShowsNegativeResultsInTheirOwnWidth) {
    const int32_t hr = static_cast<int32_t>(0x80070002u);
    EXPECT_EQ(CQStringHelper::Format(L"0x%08X", hr), L"0x80070002");
    EXPECT_EQ(CQStringHelper::Format(L"Unknown error 0x%0lX", hr), L"Unknown error 0x80070002");
    EXPECT_EQ(CQStringHelper::Format(L"%d", hr), L"-2147024894");
    EXPECT_EQ(CQStringHelper::Format(L"%u", static_cast<uint64_t>(1) << 40), L"1099511627776");
}

TEST(CQStringHelper, FormatNeverReadsAnArgumentAsTheWrongType) {
    EXPECT_EQ(CQStringHelper::Format(L"%d and %s", std::wstring(L"text"), 5), L"text and 5");
    EXPECT_EQ(CQStringHelper::Format(L"%s %d", std::wstring(L"only")), L"only %d");
    EXPECT_EQ(CQStringHelper::Format(L"no conversions", 1, 2), L"no conversions");
    EXPECT_EQ(CQStringHelper::Format(L"trailing %"), L"trailing %");
}

TEST(CQStringHelper, FormatGrowsForLongResults) {
    const std::wstring longText(5000, L'x');
    EXPECT_EQ(CQStringHelper::Format(L"<%s>", longText), L"<" + longText + L">");
    EXPECT_EQ(CQStringHelper::Format(L"%300d", 1).size(), 300u);
    const std::wstring huge(3 << 20, L'y');
    EXPECT_EQ(CQStringHelper::Format(L"%-4s|", huge), huge + L"|") << "texts pass at any length";
    EXPECT_EQ(CQStringHelper::Format(L"%.3s|%06s", std::wstring(L"abcdef"), std::wstring(L"ab")),
              L"abc|    ab");
}

// swprintf fails the same way for a width it cannot write as for a buffer too small: the
// growth must end.
TEST(CQStringHelper, FormatWritesAConversionTheLibraryCannotWriteAsItStands) {
    EXPECT_EQ(CQStringHelper::Format(L"[%2147483648d]", 5), L"[%2147483648d]");
    EXPECT_EQ(CQStringHelper::Format(L"[%9999999d] %d", 5, 6), L"[%9999999d] 6");
    EXPECT_EQ(CQStringHelper::Format(L"[%99999999s]", std::wstring(L"a")), L"[%99999999s]");
    EXPECT_EQ(CQStringHelper::Format(L"[%.99999999f]", 1.0), L"[%.99999999f]");
}

TEST(CQStringHelper, ConvertsBetweenMultiByteAndWide) {
    EXPECT_EQ(CQStringHelper::IntToString(-2147483647 - 1), L"-2147483648");
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x8E\xAC";
    const std::wstring wide = CQStringHelper::MultiByteToString(utf8);
    EXPECT_EQ(wide, L"Gr\u00FC\u00DF \u20AC \U0001F3AC");
    EXPECT_EQ(CQStringHelper::StringToMultiByte(wide), utf8);
    EXPECT_EQ(CQStringHelper::MultiByteToString("a\xFF"), L"a\uFFFD");
}

TEST(CQStringHelper, ConvertNewlinesToWritesEveryLineEndAsCrLf) {
    EXPECT_EQ(CQStringHelper::ConvertNewlinesTo(L"a\nb\r\nc\rd"), L"a\r\nb\r\nc\r\nd");
    EXPECT_EQ(CQStringHelper::ConvertNewlinesTo(L"\r\r\n\n\n\r"), L"\r\n\r\n\r\n\r\n\r\n");
    EXPECT_EQ(CQStringHelper::ConvertNewlinesTo(L"no line end"), L"no line end");
    EXPECT_EQ(CQStringHelper::ConvertNewlinesTo(L""), L"");
}

TEST(CQStringHelper, ByteFormsAreStrictAndUseTheBuffer) {
    const std::string utf8 = "caf\xC3\xA9 \xF0\x9F\x8E\xAC";
    EXPECT_EQ(CQStringHelper::MultiByteToString(utf8.c_str(), 0), L"caf\u00E9 \U0001F3AC");
    EXPECT_EQ(CQStringHelper::MultiByteToString(utf8.c_str(), 3), L"caf");
    EXPECT_EQ(CQStringHelper::MultiByteToString(utf8.c_str(), 4), L"") << "cut sequence";
    EXPECT_EQ(CQStringHelper::MultiByteToString("ok \xC0\xAF", 0), L"") << "overlong form";
    EXPECT_EQ(CQStringHelper::MultiByteToString("\xED\xA0\x80", 3), L"") << "surrogate";
    EXPECT_EQ(CQStringHelper::MultiByteToString(nullptr, 0), L"");

    CQBufMalloc buffer;
    buffer.Copy("old content", 11);
    CQStringHelper::StringToMultiByte(L"\u00E9t\u00E9", buffer);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize()),
              "\xC3\xA9t\xC3\xA9");
}
