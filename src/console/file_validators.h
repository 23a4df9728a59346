#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenby {

// Validators and the conditional and range decisions for plain files, as pure functions of
// the request's header values and the file's size and modification time, so that the
// handler only gathers inputs and writes the outcome. Safe from any thread.

/// What identifies one version of a file to a client's cache.
struct TFileValidators {
  std::string ETag;                  ///< strong entity tag, quotes included
  std::string LastModified;          ///< HTTP date of the modification time, in GMT
  std::int64_t ModifiedSeconds = 0;  ///< modification time, whole seconds since the Unix epoch
};

/// A strong tag from size and modification time, both hex: "\"<size>-<mtime ns>\"". A file
/// rewritten with the same size within the clock's step keeps its tag, as with any stat-based
/// tag; the nanoseconds make that window as small as the file system allows.
TFileValidators MakeFileValidators(std::int64_t size, std::int64_t mtime_seconds,
                                   std::int64_t mtime_nanoseconds);

/// Seconds since the Unix epoch of an HTTP date (any of the three forms), or false.
bool ParseHttpDateSeconds(std::string_view text, std::int64_t& seconds);

/// The request's header values that bear on a file reply; empty = absent.
struct TFileRequestConditions {
  std::string IfNoneMatch;
  std::string IfModifiedSince;
  std::string Range;
  std::string IfRange;
};

enum class TFileReplyKind {
  Whole,          ///< 200 with the whole file
  NotModified,    ///< 304, no body
  Partial,        ///< 206 with First .. First + Length - 1
  Unsatisfiable,  ///< 416, no body
};

struct TFileReplyPlan {
  TFileReplyKind Kind = TFileReplyKind::Whole;
  std::int64_t First = 0;
  std::int64_t Length = 0;
};

/// True when `header` (an If-None-Match list, or "*") names `etag`, ignoring weakness.
bool ETagListMatches(std::string_view header, std::string_view etag);

/// Outcome of one "Range" value for a file of `size` bytes. Only a single "bytes=" range
/// applies; several ranges, another unit or a malformed value give Whole. Numbers too large
/// for 64 bits count as the largest value rather than wrapping.
TFileReplyPlan PlanRange(std::string_view range, std::int64_t size);

/// The reply for a GET or HEAD of a file: If-None-Match first, If-Modified-Since only without
/// it (and only for a date not later than `now_seconds`), then Range when If-Range, if any,
/// names this version.
TFileReplyPlan PlanFileReply(const TFileRequestConditions& conditions,
                             const TFileValidators& validators, std::int64_t size,
                             std::int64_t now_seconds);

/// "bytes FIRST-LAST/SIZE" for a partial reply, "bytes */SIZE" for an unsatisfiable one.
std::string ContentRangeValue(const TFileReplyPlan& plan, std::int64_t size);

}  // namespace quenby
