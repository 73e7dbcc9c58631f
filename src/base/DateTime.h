// The date-time value: days since 30 December 1899 as a double, the fraction
// being the time of day. 0 stands for "no date".
#pragma once

#include <cstdint>

namespace qm {

using TDateTime = double;

struct DateTimeFields {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
    int DayOfWeek = 0; // 1 = Sunday ... 7 = Saturday
};

// Raises qm::Exception for fields outside the calendar.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int milliSecond = 0);
// Milliseconds are truncated, never rounded up into the next second. Raises
// qm::Exception for a value outside the years 1 to 9999 or not a number.
DateTimeFields DecodeDateTime(TDateTime value);

} // namespace qm
