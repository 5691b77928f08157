#include "qlib/qutilitylib/qtime.h"

#include <chrono>

#include "qlib/qutilitylib/qcatch.h"
#include "qlib/qutilitylib/qexception.h"

namespace {

constexpr double k_secondsPerDay = 86400.0;

bool IsValidTime(const SYSTEMTIME& time) {
    return time.wYear >= 100 && time.wYear <= 9999 && time.wHour < 24 && time.wMinute < 60 &&
           time.wSecond < 60;
}

}  // namespace

double CQTime::SystemTimeToVariantTime(const SYSTEMTIME& time) {
    return CQCatch::Internal([&] {
        using namespace std::chrono;
        const year_month_day date{year{time.wYear}, month{time.wMonth}, day{time.wDay}};
        if (!IsValidTime(time) || !date.ok()) {
            throw CQException(QERR_TIME_CONVERSION);
        }
        const double days =
            static_cast<double>((sys_days{date} - sys_days{year{1899} / December / 30}).count());
        const double fraction =
            (time.wHour * 3600.0 + time.wMinute * 60.0 + time.wSecond) / k_secondsPerDay;
        return days >= 0 ? days + fraction : days - fraction;
    });
}
