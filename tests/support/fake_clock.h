// Replaces the system clock the FPGA manager reads (fpga_manage::clock_now)
// with a fixed local time for as long as the object lives.
#pragma once

#include "sendcard/fpga_manage.h"

#include <ctime>

class FakeClock {
public:
    FakeClock() : saved_(fpga_manage::clock_now) {}
    ~FakeClock() { fpga_manage::clock_now = saved_; }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    // From now on the clock reads this local date and time.
    void set(int year, int month, int day, int hour, int minute, int second = 0)
    {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        tm.tm_isdst = -1;
        now() = std::mktime(&tm);
        fpga_manage::clock_now = read;
    }

private:
    static std::time_t& now()
    {
        static std::time_t t = 0;
        return t;
    }
    static std::time_t read() { return now(); }
    std::time_t (*saved_)();
};
