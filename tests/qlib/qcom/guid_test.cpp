#include "qlib/qcom/guid.h"

#include <set>

#include <gtest/gtest.h>

TEST(Guid, RegistryFormRoundTrips) {
    const GUID guid{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    EXPECT_EQ(GuidToString(guid), L"{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidFromString(L"{00020400-0000-0000-c000-000000000046}"), guid);
    EXPECT_EQ(GuidFromString(L"00020400-0000-0000-C000-000000000046"), guid);
    const std::wstring everyDigit = L"{01234567-89AB-CDEF-FEDC-BA9876543210}";
    EXPECT_EQ(GuidToString(GuidFromString(everyDigit).value()), everyDigit);
}

TEST(Guid, MalformedTextIsRefused) {
    EXPECT_EQ(GuidFromString(L""), std::nullopt);
    EXPECT_EQ(GuidFromString(L"{00020400-0000-0000-C000-00000000004}"), std::nullopt);
    EXPECT_EQ(GuidFromString(L"{00020400-0000-0000-C000-00000000004G}"), std::nullopt);
    EXPECT_EQ(GuidFromString(L"{00020400+0000-0000-C000-000000000046}"), std::nullopt);
    EXPECT_EQ(GuidFromString(L"{00020400-0000-0000-C000-000000000046"), std::nullopt);
}

TEST(Guid, FreshGuidsAreDistinctVersionFour) {
    std::set<GUID> seen;
    for (int i = 0; i < 1000; ++i) {
        const GUID guid = NewGuid();
        EXPECT_EQ(guid.Data3 >> 12, 4);
        EXPECT_EQ(guid.Data4[0] & 0xC0, 0x80);
        seen.insert(guid);
    }
    EXPECT_EQ(seen.size(), 1000u);
}
