#include "components/vdatastorelib/vdsfilter.h"

#include <gtest/gtest.h>

#include "components/vdatastorelib/vdatastorelib.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;
using qutilitylib::test::RealEntries;

TEST(CVDSFilter, ReadsTheTwoFormsWithOrWithoutBlanks) {
    const auto text = CVDSFilter::Parse(L"Item.GUID = \"{1234}\"");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->className, L"Item");
    EXPECT_EQ(text->property, L"GUID");
    EXPECT_TRUE(text->IsGuid());
    EXPECT_EQ(std::get<std::wstring>(text->value), L"{1234}");

    const auto integer = CVDSFilter::Parse(L"TranscodeQueueObj.TranscodingJobID=-42");
    ASSERT_TRUE(integer);
    EXPECT_EQ(integer->className, L"TranscodeQueueObj");
    EXPECT_EQ(integer->property, L"TranscodingJobID");
    EXPECT_EQ(std::get<int64_t>(integer->value), -42);

    const auto spaced = CVDSFilter::Parse(L"  Video.Width\t=   640  ");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(std::get<int64_t>(spaced->value), 640);

    EXPECT_FALSE(CVDSFilter::Parse(L""));
    EXPECT_FALSE(CVDSFilter::Parse(L"  \t "));
}

TEST(CVDSFilter, QuotedValuesAreDataWithTwoEscapes) {
    const std::pair<const wchar_t*, std::wstring> cases[] = {
        {LR"(A.B = "say \"hi\"")", L"say \"hi\""},
        {LR"(A.B = "C:\\dir\\file")", L"C:\\dir\\file"},
        {LR"(A.B = "' OR 1=1 --")", L"' OR 1=1 --"},
        {LR"(A.B = "")", L""},
        {L"A.B = \"caf\u00e9 \u65e5\u672c \U0001F600\"", L"caf\u00e9 \u65e5\u672c \U0001F600"},
        {LR"(A.B = "a.b = \"c\"")", L"a.b = \"c\""},
    };
    for (const auto& [filter, value] : cases) {
        const auto parsed = CVDSFilter::Parse(filter);
        ASSERT_TRUE(parsed) << filter;
        EXPECT_EQ(std::get<std::wstring>(parsed->value), value) << filter;
    }
}

TEST(CVDSFilter, EverythingElseIsAClearErrorNamingTheFilter) {
    const wchar_t* malformed[] = {
        L"Item",                      // no property
        L"Item.",                     // empty property
        L".GUID = \"x\"",             // no class
        L"Item.GUID",                 // no "="
        L"Item.GUID =",               // no value
        L"Item.GUID = \"open",        // unterminated quote
        L"Item.GUID = \"a\\nb\"",     // unknown escape
        L"Item.GUID = \"a\\\"",       // escape eats the closing quote
        L"Item.GUID == \"x\"",        // doubled operator
        L"Item.GUID != \"x\"",        // another operator
        L"Item.GUID = 'x'",           // single quotes
        L"Item.GUID = \"x\" OR 1=1",  // trailing SQL
        L"Item.GUID = \"x\"; DROP TABLE items",
        L"A.B = 12abc",                 // not an integer
        L"A.B = 1.5",                   // not an integer
        L"A.B = 99999999999999999999",  // beyond 64 bits
        L"A.B = -",                     // sign alone
        L"1A.B = 1",                    // name starting with a digit
        L"A.B.C = 1",                   // three parts
        L"A.B = 1 AND C.D = 2",         // two conditions
        L"Item.GUID = 5",               // GUID takes text
        L"A-B.C = 1",                   // not a name
    };
    for (const wchar_t* filter : malformed) {
        const auto error = Raised([&] { (void)CVDSFilter::Parse(filter); });
        ASSERT_TRUE(error) << filter;
        const auto entries = RealEntries(*error);
        ASSERT_EQ(entries.size(), 1u) << filter;
        EXPECT_EQ(entries[0].code, VDSERR_INVALID_FILTER) << filter;
        EXPECT_NE(entries[0].description.find(filter), std::wstring::npos) << filter;
        EXPECT_EQ(entries[0].values.at(L"Filter"), filter);
        EXPECT_EQ(entries[0].description.find(L"SELECT"), std::wstring::npos) << filter;
    }
}

TEST(CVDSFilter, RefusesOverlongFilters) {
    const std::wstring filter = L"A.B = \"" + std::wstring(CVDSFilter::k_maxLength, L'x') + L"\"";
    const auto error = Raised([&] { (void)CVDSFilter::Parse(filter); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->HasErrorCode(VDSERR_INVALID_FILTER));
}
