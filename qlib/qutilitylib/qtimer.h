#pragma once
// CQTimer: a stopwatch for the debug log. Start writes "==TIMER START==" and the timer's name,
// Stop (or the destructor) writes "==TIMER END==", the name and the elapsed milliseconds, both
// at DEBUG level and only when a sink takes debugging levels:
//
//     CQTimer timer;
//     timer.Start(L"CVDataStore::Add() NumOfItems:" + count);
//     ...                                   // the end line is written when timer goes
//
// The name is logged as literal text (a "%" in it is printed as it is). Measured on the
// monotonic clock. Used by one thread at a time.

#include <chrono>
#include <string>

class CQTimer {
public:
    CQTimer() = default;
    CQTimer(const CQTimer&) = delete;
    CQTimer& operator=(const CQTimer&) = delete;
    ~CQTimer();

    void Start(const std::wstring& name);
    // The milliseconds since Start; 0 when already stopped (the end line is written once) or
    // never started.
    double Stop();

private:
    void Emit(const wchar_t* label, double milliseconds) const;

    bool m_active = false;
    std::chrono::steady_clock::time_point m_start;
    std::wstring m_name;
    bool m_stopped = false;
};
