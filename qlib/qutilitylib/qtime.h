#pragma once
// CQTime: conversion of a calendar time to an automation date (the DATE of automation values:
// days since midnight of 30 December 1899, the fraction being the time of day; before that
// day the whole days count down while the fraction still counts forward, so 29 December 1899
// 06:00 is -1.25).
//
// As with the platform's conversion, the day of the week and the milliseconds are ignored.
// Valid are the years 100 to 9999 with real dates and times; anything else raises
// QERR_TIME_CONVERSION "Time conversion failed.".
//
// Stateless; safe to call from any thread.

#include <cstdint>

// A calendar time broken into its fields (UTC unless said otherwise).
struct SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;      // 1-12
    uint16_t wDayOfWeek;  // 0 = Sunday; not used by the conversion
    uint16_t wDay;        // 1-31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

class CQTime {
public:
    static double SystemTimeToVariantTime(const SYSTEMTIME& time);
};
