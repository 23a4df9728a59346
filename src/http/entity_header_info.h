#pragma once

#include <cstdint>
#include <string>

#include "http/header_list.h"
#include "util/date_time.h"

namespace quenby {

/// Longest body a ContentLength can announce: the record holds a 32-bit length. A longer
/// body (2 GiB or more) goes out without a length and is ended by the connection's close.
constexpr std::int64_t MaxAnnouncedLength = INT32_MAX;

/// True when a body of `size` bytes can be announced by ContentLength.
constexpr bool CanAnnounceLength(std::int64_t size) {
  return size <= MaxAnnouncedLength;
}

/// Header properties common to requests and replies, with the mapping between the raw
/// `Headers` lines and the typed properties. A record belongs to the one peer thread that
/// serves its connection; nothing here is locked. Records are never copied.
class TEntityHeaderInfo {
 public:
  /// Fold width of every record's `Headers` list.
  static constexpr int HeadersFoldWidth = 1024;

  TEntityHeaderInfo();
  virtual ~TEntityHeaderInfo() = default;
  TEntityHeaderInfo(const TEntityHeaderInfo&) = delete;
  TEntityHeaderInfo& operator=(const TEntityHeaderInfo&) = delete;

  /// Sets the properties from `Headers`; an absent header clears its property. Raises
  /// EConvertError for an "Expires" count of seconds that is not a time of day.
  virtual void ParseHeaders();
  /// Empties `Headers` and refills it from the properties that are set, then appends the
  /// CustomHeaders lines verbatim.
  virtual void BuildHeaders();
  /// Resets the properties to their defaults (CacheControl, Pragma and CustomHeaders stay).
  virtual void ClearHeaders();

  /// Body length in bytes, -1 = not given. Setting it also sets ContentLengthKnown.
  std::int32_t ContentLength() const { return content_length_; }
  void SetContentLength(std::int32_t value);

  /// Extra "Name: value" lines that BuildHeaders appends after its own lines.
  THeaderList& CustomHeaders() { return custom_headers_; }
  const THeaderList& CustomHeaders() const { return custom_headers_; }
  /// Copies the lines of `lines` (this list keeps its own switches).
  void SetCustomHeaders(const THeaderList& lines) { custom_headers_.Assign(lines); }

  /// Written as "Cache-control"; never read from a request.
  std::string CacheControl;
  /// The raw header lines received, or the lines to send.
  THeaderList Headers;
  std::string Connection;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::uint32_t ContentRangeEnd = 0;
  std::uint32_t ContentRangeStart = 0;
  std::string ContentType;
  std::string ContentVersion;
  /// Dates are local time; 0 = not set.
  TDateTime Date = 0;
  TDateTime Expires = 0;
  TDateTime LastModified = 0;
  std::string Pragma;
  /// A non-negative ContentLength was given.
  bool ContentLengthKnown = false;

 protected:
  void ParseEntityHeaders();
  void BuildEntityHeaders();
  void ClearEntityHeaders();
  /// Sets a line of `Headers` only for a non-empty value (an empty one would delete a
  /// custom line of the same name).
  void SetIfNotEmpty(std::string_view name, const std::string& value);

 private:
  std::int32_t content_length_ = -1;
  THeaderList custom_headers_;
};

}  // namespace quenby
