#pragma once

#include <cstdint>
#include <ctime>

namespace quenby {

/// Day count from 1899-12-30, the time of day as fraction. Local time unless a name says
/// otherwise; 0 means "not set" where a field allows that.
using TDateTime = double;

inline constexpr double MSecsPerDay = 86400000.0;
inline constexpr double SecsPerDay = 86400.0;
/// TDateTime of the Unix epoch 1970-01-01 00:00:00.
inline constexpr TDateTime UnixDateDelta = 25569.0;

/// Current local time, milliseconds included.
TDateTime Now();
/// Current time in UTC.
TDateTime NowUTC();

/// False (and `result` untouched) for a date or time outside the calendar or the clock.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
/// As the Try forms; an invalid argument raises EConvertError.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec = 0);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int msec = 0);

struct DateParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  int day_of_week = 0;  ///< 1 = Sunday ... 7 = Saturday
};
/// Splits a value into calendar and clock parts, rounded to the millisecond. Negative values
/// count their date part toward 1899-12-30 and their time part from midnight (absolute).
DateParts DecodeDateTime(TDateTime value);

/// Offset of local time from UTC at this moment, as a fraction of a day (positive east of
/// Greenwich), daylight saving included.
TDateTime LocalOffsetFromUTC();
/// The same in whole minutes.
int LocalOffsetMinutes();

/// Seconds since the Unix epoch (UTC) to a UTC TDateTime, and back.
TDateTime UnixToDateTime(double seconds);
double DateTimeToUnix(TDateTime value);
/// A time_t as local TDateTime.
TDateTime LocalFromUnix(std::time_t seconds);

/// Whole milliseconds from `earlier` to `later` (negative when later is earlier).
std::int64_t MillisecondsBetween(TDateTime earlier, TDateTime later);

}  // namespace quenby
