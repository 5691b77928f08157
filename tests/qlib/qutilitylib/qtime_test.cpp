#include "qlib/qutilitylib/qtime.h"

#include <gtest/gtest.h>

#include "qlib/qutilitylib/qexception.h"
#include "tests/qlib/qutilitylib/filetestsupport.h"

using qutilitylib::test::Raised;

namespace {

SYSTEMTIME Time(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0, uint16_t minute = 0,
                uint16_t second = 0, uint16_t milliseconds = 0) {
    return SYSTEMTIME{year, month, 0, day, hour, minute, second, milliseconds};
}

}  // namespace

TEST(CQTime, CountsDaysFromTheEndOf1899) {
    EXPECT_DOUBLE_EQ(CQTime::SystemTimeToVariantTime(Time(1899, 12, 30)), 0.0);
    EXPECT_DOUBLE_EQ(CQTime::SystemTimeToVariantTime(Time(1900, 1, 1)), 2.0);
    EXPECT_DOUBLE_EQ(CQTime::SystemTimeToVariantTime(Time(2000, 1, 1, 12)), 36526.5);
    EXPECT_DOUBLE_EQ(CQTime::SystemTimeToVariantTime(Time(2024, 2, 29, 18, 0, 0, 999)), 45351.75);
    EXPECT_DOUBLE_EQ(CQTime::SystemTimeToVariantTime(Time(1899, 12, 29, 6)), -1.25)
        << "before the epoch the fraction still counts forward";
    EXPECT_DOUBLE_EQ(CQTime::SystemTimeToVariantTime(Time(100, 1, 1)), -657434.0);
    EXPECT_DOUBLE_EQ(CQTime::SystemTimeToVariantTime(Time(9999, 12, 31, 23, 59, 59)),
                     2958465.0 + 86399.0 / 86400.0);
}

TEST(CQTime, RefusesDatesThatDoNotExist) {
    for (const SYSTEMTIME& time :
         {Time(2023, 2, 29), Time(2024, 13, 1), Time(2024, 0, 1), Time(2024, 1, 0),
          Time(99, 12, 31), Time(10000, 1, 1), Time(2024, 1, 1, 24), Time(2024, 1, 1, 0, 60),
          Time(2024, 1, 1, 0, 0, 60)}) {
        const auto error = Raised([&] { CQTime::SystemTimeToVariantTime(time); });
        ASSERT_TRUE(error) << time.wYear << "-" << time.wMonth << "-" << time.wDay;
        EXPECT_TRUE(error->HasErrorCode(QERR_TIME_CONVERSION));
    }
}
