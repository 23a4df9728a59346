#include "util/date_time.h"

#include <chrono>
#include <cmath>

#include "util/exception.h"

namespace quenby {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

double UnixNowSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

long GmtOffsetSeconds(std::time_t at) {
  std::tm local{};
  localtime_r(&at, &local);
  return local.tm_gmtoff;
}

}  // namespace

TDateTime Now() {
  const double unix_seconds = UnixNowSeconds();
  const auto offset = GmtOffsetSeconds(static_cast<std::time_t>(unix_seconds));
  return UnixToDateTime(unix_seconds + static_cast<double>(offset));
}

TDateTime NowUTC() {
  return UnixToDateTime(UnixNowSeconds());
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return false;
  }
  result = static_cast<double>(
               DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) +
           UnixDateDelta;
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999) {
    return false;
  }
  result = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result = 0;
  if (!TryEncodeDate(year, month, day, result)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return result;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime result = 0;
  if (!TryEncodeTime(hour, minute, second, msec, result)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return result;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, msec);
}

DateParts DecodeDateTime(TDateTime value) {
  std::int64_t days = 0;
  std::int64_t msecs = 0;
  if (value >= 0) {
    const auto total = std::llround(value * MSecsPerDay);
    days = total / static_cast<std::int64_t>(MSecsPerDay);
    msecs = total % static_cast<std::int64_t>(MSecsPerDay);
  } else {
    days = static_cast<std::int64_t>(std::trunc(value));
    msecs = std::llround(std::fabs(value - std::trunc(value)) * MSecsPerDay);
    if (msecs >= static_cast<std::int64_t>(MSecsPerDay)) {
      msecs = static_cast<std::int64_t>(MSecsPerDay) - 1;
    }
  }
  DateParts parts;
  CivilFromDays(days - static_cast<std::int64_t>(UnixDateDelta), parts.year, parts.month,
                parts.day);
  parts.hour = static_cast<int>(msecs / 3600000);
  parts.minute = static_cast<int>(msecs / 60000 % 60);
  parts.second = static_cast<int>(msecs / 1000 % 60);
  parts.msec = static_cast<int>(msecs % 1000);
  // 1899-12-30 was a Saturday.
  parts.day_of_week = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
  return parts;
}

TDateTime LocalOffsetFromUTC() {
  return LocalOffsetMinutes() / 1440.0;
}

int LocalOffsetMinutes() {
  return static_cast<int>(GmtOffsetSeconds(std::time(nullptr)) / 60);
}

TDateTime UnixToDateTime(double seconds) {
  return seconds / SecsPerDay + UnixDateDelta;
}

double DateTimeToUnix(TDateTime value) {
  return (value - UnixDateDelta) * SecsPerDay;
}

TDateTime LocalFromUnix(std::time_t seconds) {
  return UnixToDateTime(static_cast<double>(seconds) +
                        static_cast<double>(GmtOffsetSeconds(seconds)));
}

std::int64_t MillisecondsBetween(TDateTime earlier, TDateTime later) {
  return std::llround((later - earlier) * MSecsPerDay);
}

}  // namespace quenby
