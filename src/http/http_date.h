#pragma once

#include <string>
#include <string_view>

#include "util/date_time.h"

namespace quenby {

// HTTP date texts. Values are TDateTime day counts; which clock they are on is said for each
// function. Safe to call from any thread.

/// "Sun" .. "Sat" for day_of_week 1 (Sunday) .. 7; "" outside that range.
const char* ShortDayName(int day_of_week);
/// "Jan" .. "Dec" for month 1 .. 12; "" outside that range.
const char* ShortMonthName(int month);

/// Reads an RFC 1123, RFC 850 or asctime date text and converts it to local time (using the
/// current offset from UTC). Returns false, leaving `local` untouched, when the date or the
/// time of day cannot be read.
bool TryParseHttpDate(std::string_view text, TDateTime& local);

/// As TryParseHttpDate, but never fails: an unreadable text counts as 0 before the offset
/// correction, so it yields just the local offset from UTC (possibly negative).
TDateTime ParseHttpDate(std::string_view text);

/// "Sun, 6 Nov 1994 08:49:37 +0100": the value as it is (local time), followed by the
/// current offset of local time from UTC.
std::string HttpDateLocal(TDateTime value);

/// "Sun, 06 Nov 1994 08:49:37 GMT": the value formatted unchanged, without conversion.
std::string HttpDateGMT(TDateTime value);

}  // namespace quenby
