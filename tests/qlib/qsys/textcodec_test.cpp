#include "qlib/qsys/textcodec.h"

#include <gtest/gtest.h>

// The codec copies a leading ASCII run directly and encodes the rest character by character:
// texts that change character class at any position must come out the same either way.
TEST(TextCodec, Utf8RoundTripsAcrossAsciiAndWiderCharacters) {
    const std::wstring texts[] = {L"",
                                  L"plain ascii /music/a.mp4",
                                  L"\u00e9t\u00e9 \u2014 caf\u00e9",
                                  L"/music/caf\u00e9/\U0001F3B5 song.mp3",
                                  std::wstring(1000, L'a') + L"\u00fc" + std::wstring(1000, L'b')};
    for (const std::wstring& text : texts) {
        const std::string bytes = qsys::ToUtf8(text);
        EXPECT_EQ(qsys::FromUtf8(bytes), text);
        EXPECT_EQ(qsys::FromUtf8Strict(bytes), text);
    }
    EXPECT_EQ(qsys::ToUtf8(L"ab\u00e9\U0001F3B5"), "ab\xC3\xA9\xF0\x9F\x8E\xB5");
}

TEST(TextCodec, InvalidInputBecomesReplacementCharacters) {
    // A lone surrogate cannot be written as UTF-8; bytes that are not UTF-8 cannot be read.
    EXPECT_EQ(qsys::ToUtf8(std::wstring(L"ok") + static_cast<wchar_t>(0xD800)), "ok\xEF\xBF\xBD");
    EXPECT_EQ(qsys::FromUtf8("ok\xFF!"), L"ok\uFFFD!");
    EXPECT_EQ(qsys::FromUtf8("ok\xC3"), L"ok\uFFFD");
    EXPECT_EQ(qsys::FromUtf8Strict("ok\xFF!"), std::nullopt);
}
