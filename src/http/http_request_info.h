#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/cookies.h"
#include "http/request_header_info.h"
#include "util/stream.h"

namespace quenby {

class THTTPSession;

/// One received request. Created, filled and destroyed by the request loop on the peer
/// thread of its connection; handlers read it during their call and keep no references to
/// it, its ParamList or its cookies afterwards.
class THTTPRequestInfo : public TRequestHeaderInfo {
 public:
  THTTPRequestInfo() = default;

  /// Replaces ParamList with the pieces of `text` cut at every "&", each with "+" turned into
  /// a space and then percent-decoded. An empty text gives no entries; an empty piece gives
  /// an empty entry.
  void DecodeParams(std::string_view text);

  /// Reads the "Authorization" header into AuthorizationGiven, AuthorizationUser and
  /// AuthorizationPassword. Raises EHTTPUnsupportedAuthorisationScheme for a scheme other
  /// than Basic and EDecoderError for base64 of uneven length; nothing is set then but
  /// AuthorizationGiven.
  void DecodeAuthorization();

  /// An "Authorization" header with a non-empty value was received.
  bool AuthorizationGiven = false;
  /// One item per name=value pair of the "Cookie" lines.
  TServerCookies ServerCookies;
  /// Decoded "name=value" entries (see DecodeParams).
  std::vector<std::string> ParamList;
  /// The stream the body was read into when a handler supplied one; freed with the record.
  std::unique_ptr<TStream> PostedStream;
  /// The request line as read, without its line end.
  std::string RequestLine;
  /// The peer's IP address as text.
  std::string ClientAddress;
  /// The session of this request, or none. Not owned.
  THTTPSession* CurrentSession = nullptr;
  /// The decoded document path.
  std::string Path;
  /// Upper-cased: "GET", "POST", "HEAD".
  std::string Method;
  /// The protocol text that ended the request line, e.g. "HTTP/1.1".
  std::string HTTPVersion;
  std::string AuthorizationUser;
  std::string AuthorizationPassword;
  /// Undecoded parameters: the body, then "&" and the query when both exist.
  std::string ParamText;
  /// Undecoded text after the first "?" of the request target.
  std::string QueryText;
  /// The body, as text.
  std::string PostedText;
};

}  // namespace quenby
