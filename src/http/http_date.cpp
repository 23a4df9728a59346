#include "http/http_date.h"

#include <cstdlib>

#include "http/http_text.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr const char* DayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int DaysPerWeek = 7;
constexpr int MonthsPerYear = 12;
constexpr std::size_t NameLength = 3;
// A year that is not a number reads as this; it also marks the asctime order, where the time
// of day stands where the other forms have the year.
constexpr int NoYear = 1900;
constexpr int TwoDigitYearPivot = 80;
// "+hhmm" and longer: a numeric zone.
constexpr std::size_t MinNumericZoneLength = 5;
constexpr int MinutesPerHour = 60;

bool IsDayName(std::string_view text) {
  if (text.size() < NameLength)
    return false;
  for (const char* name : DayNames) {
    if (SameText(text.substr(0, NameLength), name))
      return true;
  }
  return false;
}

// 1..12 for a month name ("Jan" .. "Dec", any case), 0 for anything else.
int MonthNumber(std::string_view token) {
  for (int month = 1; month <= MonthsPerYear; ++month) {
    if (SameText(token, MonthNames[month - 1]))
      return month;
  }
  return 0;
}

// Drops a leading day name ("Sun," "Sunday,") and the blanks after it.
void DropDayName(std::string& text) {
  if (!IsDayName(text))
    return;
  if (text.size() >= 5 && text[3] == ',' && text[4] != ' ')
    text = text.substr(0, 4) + " " + text.substr(4);
  SplitOff(text, " ");
  text = TrimLeft(text);
}

// "-" for the RFC 850 form ("06-Nov-94 ..."), a space otherwise.
std::string DateSeparator(std::string_view text) {
  const std::size_t dash = Pos("-", text);
  const std::size_t space = Pos(" ", text);
  return dash >= 2 && (space == 0 || dash < space) ? "-" : " ";
}

std::string NextToken(std::string& text, std::string_view separator) {
  std::string token = SplitOff(text, separator);
  text = TrimLeft(text);
  return token;
}

int ExpandYear(int year) {
  if (year < TwoDigitYearPivot)
    return year + 2000;
  if (year < 100)
    return year + 1900;
  return year;
}

// "hh:nn:ss" (each part 0 when not a number) as a fraction of a day; false when out of range.
bool ReadTimeOfDay(std::string token, TDateTime& time) {
  const int hour = StrToIntDef(SplitOff(token, ":"), 0);
  const int minute = StrToIntDef(SplitOff(token, ":"), 0);
  const int second = StrToIntDef(token, 0);
  return TryEncodeTime(hour, minute, second, 0, time);
}

// Offset of a "+hhmm" / "-hhmm" zone as a fraction of a day (east positive); 0 otherwise.
TDateTime ZoneOffset(std::string_view zone) {
  if (zone.size() < MinNumericZoneLength || (zone[0] != '+' && zone[0] != '-'))
    return 0;
  const int hours = StrToIntDef(zone.substr(1, 2), -1);
  const int minutes = StrToIntDef(zone.substr(3, 2), -1);
  TDateTime offset = 0;
  if (!TryEncodeTime(hours, minutes, 0, 0, offset))
    return 0;
  return zone[0] == '-' ? -offset : offset;
}

std::string TimeText(const DateParts& parts) {
  return Format("%.2d:%.2d:%.2d", parts.hour, parts.minute, parts.second);
}

}  // namespace

const char* ShortDayName(int day_of_week) {
  return day_of_week >= 1 && day_of_week <= DaysPerWeek ? DayNames[day_of_week - 1] : "";
}

const char* ShortMonthName(int month) {
  return month >= 1 && month <= MonthsPerYear ? MonthNames[month - 1] : "";
}

bool TryParseHttpDate(std::string_view text, TDateTime& local) {
  std::string rest = Trim(text);
  if (rest.empty())
    return false;  // the usual case: the header is not there
  DropDayName(rest);
  const std::string separator = DateSeparator(rest);

  int day = 0;
  int month = 0;
  std::string probe = rest;
  if (MonthNumber(SplitOff(probe, separator)) != 0) {
    month = MonthNumber(NextToken(rest, separator));
    day = StrToIntDef(NextToken(rest, separator), 1);
  } else {
    day = StrToIntDef(NextToken(rest, separator), 1);
    month = MonthNumber(NextToken(rest, separator));
  }

  std::string year_token = NextToken(rest, " ");
  int year = StrToIntDef(year_token, NoYear);
  if (year == NoYear) {
    // asctime order: the time of day came first, the year is what remains.
    year = StrToIntDef(rest, NoYear);
    rest = year_token;
  }

  TDateTime date = 0;
  if (!TryEncodeDate(ExpandYear(year), month, day, date))
    return false;
  if (Pos(":", rest) != 0) {
    TDateTime time = 0;
    if (!ReadTimeOfDay(NextToken(rest, " "), time))
      return false;
    date += time;
  }
  local = date - ZoneOffset(TrimLeft(rest)) + LocalOffsetFromUTC();
  return true;
}

TDateTime ParseHttpDate(std::string_view text) {
  TDateTime local = 0;
  if (TryParseHttpDate(text, local))
    return local;
  return LocalOffsetFromUTC();
}

std::string HttpDateLocal(TDateTime value) {
  const DateParts parts = DecodeDateTime(value);
  const int offset = LocalOffsetMinutes();
  const int magnitude = std::abs(offset);
  const std::string zone = Format("%c%.2d%.2d", offset >= 0 ? '+' : '-', magnitude / MinutesPerHour,
                                  magnitude % MinutesPerHour);
  return Format("%s, %d %s %d %s %s", ShortDayName(parts.day_of_week), parts.day,
                ShortMonthName(parts.month), parts.year, TimeText(parts).c_str(), zone.c_str());
}

std::string HttpDateGMT(TDateTime value) {
  const DateParts parts = DecodeDateTime(value);
  return Format("%s, %.2d %s %.4d %s %s", ShortDayName(parts.day_of_week), parts.day,
                ShortMonthName(parts.month), parts.year, TimeText(parts).c_str(), "GMT");
}

}  // namespace quenby
