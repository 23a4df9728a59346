#include "console/file_validators.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "http/http_date.h"
#include "util/date_time.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr std::int64_t MaxValue = std::numeric_limits<std::int64_t>::max();
constexpr std::string_view BytesUnit = "bytes";
constexpr std::string_view WeakPrefix = "W/";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// Digits only, at least one; a value beyond 64 bits saturates, since every such offset lies
// past the end of any file anyway.
bool ParseCount(std::string_view text, std::int64_t& value) {
  if (text.empty())
    return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return false;
    const int digit = c - '0';
    value = value > (MaxValue - digit) / 10 ? MaxValue : value * 10 + digit;
  }
  return true;
}

// The opaque part of the entity tag at the start of `text` ("W/" dropped, quotes kept), and
// `text` advanced past it; empty when no well-formed tag starts there.
std::string_view TakeETag(std::string_view& text) {
  std::string_view rest = text;
  if (rest.substr(0, WeakPrefix.size()) == WeakPrefix)
    rest.remove_prefix(WeakPrefix.size());
  if (rest.empty() || rest.front() != '"')
    return {};
  const std::size_t close = rest.find('"', 1);
  if (close == std::string_view::npos)
    return {};
  text = rest.substr(close + 1);
  return rest.substr(0, close + 1);
}

std::string_view Opaque(std::string_view etag) {
  return etag.substr(0, WeakPrefix.size()) == WeakPrefix ? etag.substr(WeakPrefix.size()) : etag;
}

// If-Range names this version: an identical strong tag, or exactly the modification date.
bool IfRangeMatches(std::string_view if_range, const TFileValidators& validators) {
  if_range = TrimBlanks(if_range);
  if (if_range.substr(0, WeakPrefix.size()) == WeakPrefix)
    return false;  // a weak tag never validates a range
  if (!if_range.empty() && if_range.front() == '"')
    return if_range == validators.ETag;
  std::int64_t seconds = 0;
  return ParseHttpDateSeconds(if_range, seconds) && seconds == validators.ModifiedSeconds;
}

bool NotModifiedSince(std::string_view since, const TFileValidators& validators,
                      std::int64_t now_seconds) {
  std::int64_t seconds = 0;
  // A date in the future says nothing about what the client holds.
  return ParseHttpDateSeconds(TrimBlanks(since), seconds) && seconds <= now_seconds &&
         validators.ModifiedSeconds <= seconds;
}

}  // namespace

TFileValidators MakeFileValidators(std::int64_t size, std::int64_t mtime_seconds,
                                   std::int64_t mtime_nanoseconds) {
  TFileValidators validators;
  const unsigned long long stamp = static_cast<unsigned long long>(mtime_seconds) * 1000000000ULL +
                                   static_cast<unsigned long long>(mtime_nanoseconds);
  validators.ETag = Format("\"%llx-%llx\"", static_cast<unsigned long long>(size), stamp);
  validators.LastModified = HttpDateGMT(UnixToDateTime(static_cast<double>(mtime_seconds)));
  validators.ModifiedSeconds = mtime_seconds;
  return validators;
}

bool ParseHttpDateSeconds(std::string_view text, std::int64_t& seconds) {
  TDateTime local = 0;
  if (!TryParseHttpDate(text, local))
    return false;
  seconds = std::llround(DateTimeToUnix(local - LocalOffsetFromUTC()));
  return true;
}

bool ETagListMatches(std::string_view header, std::string_view etag) {
  std::string_view rest = TrimBlanks(header);
  if (rest == "*")
    return true;
  while (!rest.empty()) {
    const std::string_view tag = TakeETag(rest);
    if (tag.empty())
      return false;  // a malformed list matches nothing from here on
    if (Opaque(tag) == Opaque(etag))
      return true;
    rest = TrimBlanks(rest);
    if (!rest.empty() && rest.front() != ',')
      return false;
    while (!rest.empty() && (rest.front() == ',' || IsBlank(rest.front())))
      rest.remove_prefix(1);
  }
  return false;
}

TFileReplyPlan PlanRange(std::string_view range, std::int64_t size) {
  TFileReplyPlan plan;  // Whole unless one well-formed range says otherwise
  range = TrimBlanks(range);
  const std::size_t equals = range.find('=');
  if (equals == std::string_view::npos || !SameText(TrimBlanks(range.substr(0, equals)), BytesUnit))
    return plan;
  const std::string_view bounds = TrimBlanks(range.substr(equals + 1));
  const std::size_t dash = bounds.find('-');
  if (dash == std::string_view::npos || bounds.find(',') != std::string_view::npos)
    return plan;
  const std::string_view first_text = TrimBlanks(bounds.substr(0, dash));
  const std::string_view last_text = TrimBlanks(bounds.substr(dash + 1));
  std::int64_t first = 0;
  std::int64_t last = MaxValue;
  if (first_text.empty()) {  // a suffix: the last N bytes
    std::int64_t suffix = 0;
    if (!ParseCount(last_text, suffix))
      return plan;
    if (suffix == 0 || size == 0)
      return {TFileReplyKind::Unsatisfiable, 0, 0};
    first = suffix >= size ? 0 : size - suffix;
  } else if (!ParseCount(first_text, first) ||
             (!last_text.empty() && (!ParseCount(last_text, last) || last < first))) {
    return plan;
  }
  if (first >= size)
    return {TFileReplyKind::Unsatisfiable, 0, 0};
  last = std::min(last, size - 1);
  return {TFileReplyKind::Partial, first, last - first + 1};
}

TFileReplyPlan PlanFileReply(const TFileRequestConditions& conditions,
                             const TFileValidators& validators, std::int64_t size,
                             std::int64_t now_seconds) {
  if (!conditions.IfNoneMatch.empty()) {
    if (ETagListMatches(conditions.IfNoneMatch, validators.ETag))
      return {TFileReplyKind::NotModified, 0, 0};
  } else if (!conditions.IfModifiedSince.empty() &&
             NotModifiedSince(conditions.IfModifiedSince, validators, now_seconds)) {
    return {TFileReplyKind::NotModified, 0, 0};
  }
  if (conditions.Range.empty() ||
      (!conditions.IfRange.empty() && !IfRangeMatches(conditions.IfRange, validators)))
    return {};
  return PlanRange(conditions.Range, size);
}

std::string ContentRangeValue(const TFileReplyPlan& plan, std::int64_t size) {
  if (plan.Kind == TFileReplyKind::Partial)
    return Format("bytes %lld-%lld/%lld", static_cast<long long>(plan.First),
                  static_cast<long long>(plan.First + plan.Length - 1),
                  static_cast<long long>(size));
  return Format("bytes */%lld", static_cast<long long>(size));
}

}  // namespace quenby
