// The dates the processor's clock takes: days of the calendar from 2000 to
// 2099 (the PC's clock command and the sending card's command page alike).
#pragma once

namespace calendar {

constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2099;

// The days of a month of the year (0 for a month that is not 1 to 12).
inline int days_in_month(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Days from 1970-01-01 to a date of the (proleptic) Gregorian calendar.
inline long long days_from_1970(int year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

} // namespace calendar
