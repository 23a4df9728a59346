#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "http/cookies.h"
#include "http/response_header_info.h"
#include "util/stream.h"

namespace quenby {

class TTCPConnection;
class THTTPSession;

/// One reply under construction. Created by the request loop for the connection it will be
/// written to, handed to the handler, written and destroyed on the same peer thread. A fresh
/// reply has status 200 "OK", ContentType "text/html", Server "QuenbyHTTP/1.0",
/// ContentLength -1, and `Headers` with folding off so that each header stays one line.
class THTTPResponseInfo : public TResponseHeaderInfo {
 public:
  static constexpr const char* DefaultServer = "QuenbyHTTP/1.0";
  static constexpr int DefaultStatusCode = 200;
  static constexpr int RedirectStatusCode = 302;

  /// `connection` is not owned and must outlive the reply; it may be null for a reply that
  /// is never written.
  explicit THTTPResponseInfo(TTCPConnection* connection);
  /// Releases the body stream (ReleaseBodyStream).
  ~THTTPResponseInfo() override;

  /// Sets the status number and StatusText from the status table; 404 also sets
  /// CloseAfterReply. Assign StatusText afterwards to override the phrase.
  int StatusCode() const { return status_code_; }
  void SetStatusCode(int code);

  /// End the connection after this reply. Setting it also sets Connection to "close"
  /// (true) or "keep-alive" (false).
  bool CloseAfterReply() const { return close_after_reply_; }
  void SetCloseAfterReply(bool close);

  /// StatusCode 302 and Location `url`.
  void RedirectTo(std::string_view url);

  /// The body to send, or null. The reply frees a stream it owns (SetBodyStream) when the
  /// stream is released or replaced; a lent stream (LendBodyStream) is only forgotten.
  TStream* BodyStream() const { return body_stream_; }
  /// True after SetBodyStream (and initially), false after LendBodyStream.
  bool OwnsBodyStream() const { return owns_body_stream_; }
  void SetBodyStream(std::unique_ptr<TStream> stream);
  /// `stream` stays the caller's and must live until the reply is written or released.
  void LendBodyStream(TStream& stream);
  /// Frees the body stream when the reply owns it, then forgets it either way.
  void ReleaseBodyStream();

  /// When non-empty, the reply becomes a Basic challenge for this realm.
  std::string BasicRealm;
  /// Where the reply is written. Not owned.
  TTCPConnection* const ClientConnection;
  /// Cookies to send, one "Set-Cookie" line each.
  TServerCookies ServerCookies;
  /// Body to send as text, if any.
  std::string BodyText;
  /// The status line and headers have been written.
  bool HeaderSent = false;
  /// Reason phrase sent after the status number.
  std::string StatusText;
  /// The session of this request, or none. Not owned.
  THTTPSession* CurrentSession = nullptr;

 private:
  int status_code_ = DefaultStatusCode;
  bool close_after_reply_ = false;
  TStream* body_stream_ = nullptr;
  bool owns_body_stream_ = true;
  std::unique_ptr<TStream> owned_body_stream_;
};

}  // namespace quenby
