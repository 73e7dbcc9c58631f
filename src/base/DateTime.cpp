#include "base/DateTime.h"

#include "base/Exception.h"

#include <cmath>

namespace qm {
namespace {

constexpr std::int64_t MsPerDay = 24LL * 60 * 60 * 1000;

// Days from 1 March of year 0 (proleptic Gregorian) - the civil-from-days
// algorithm, valid for any day count.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned mp = m > 2 ? m - 3 : m + 9;
    const unsigned doy = (153 * mp + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe);
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day)
{
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

const std::int64_t Epoch = DaysFromCivil(1899, 12, 30);

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int milliSecond)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59 || milliSecond < 0 || milliSecond > 999)
        throw Exception("Invalid argument to date encode");
    const auto days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - Epoch;
    const double time = static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + milliSecond) /
                        static_cast<double>(MsPerDay);
    // Before the epoch the fraction still counts forward within the day.
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

DateTimeFields DecodeDateTime(TDateTime value)
{
    // Only values whose day lies in the years 1 to 9999 have fields; anything
    // else (NaN and infinities included) would overflow the day count.
    static const double First = static_cast<double>(DaysFromCivil(1, 1, 1) - Epoch);
    static const double Last = static_cast<double>(DaysFromCivil(9999, 12, 31) - Epoch);
    if (!(value > First - 1 && value < Last + 1))
        throw Exception("Invalid date-time value");
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    // A double of some 40000 days carries about 1e-3 ms of error; nudge by a
    // hundredth of a millisecond so 03:04:06 does not come out as 03:04:05.999.
    auto ms = static_cast<std::int64_t>(std::floor(fraction * static_cast<double>(MsPerDay) + 0.01));
    if (ms >= MsPerDay)
        ms = MsPerDay - 1;

    DateTimeFields f;
    const auto days = static_cast<std::int64_t>(whole);
    CivilFromDays(days + Epoch, f.Year, f.Month, f.Day);
    f.MilliSecond = static_cast<int>(ms % 1000);
    f.Second = static_cast<int>(ms / 1000 % 60);
    f.Minute = static_cast<int>(ms / 60000 % 60);
    f.Hour = static_cast<int>(ms / 3600000);
    // Day 1 (31 Dec 1899) was a Sunday.
    f.DayOfWeek = static_cast<int>(((days - 1) % 7 + 7) % 7) + 1;
    return f;
}

} // namespace qm
