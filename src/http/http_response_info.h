#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "http/cookies.h"
#include "http/response_header_info.h"
#include "http/status_text.h"
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

  /// StatusCode 302 and Location `url`. A CR or LF in `url` never reaches the wire as a
  /// line break (see SendHeader).
  void RedirectTo(std::string_view url);

  /// Refills `Headers` from the properties: the entity lines, the custom lines, then
  /// Server, Content-Type, Location, Content-Length, Last-Modified and, for a BasicRealm,
  /// the 401 challenge (with its own page as BodyText when no length was set). A custom
  /// line of one of those names is replaced in place.
  void BuildHeaders() override;

  /// Writes the status line, the header lines, one "Set-Cookie" line per ServerCookies item
  /// and the blank line, in one send, and sets HeaderSent. A non-empty `status` replaces
  /// "<StatusCode> <StatusText>" after "HTTP/1.1 " (for callers that hold a whole status
  /// such as "404 Not Found"). CR and LF inside any line are sent as spaces, so no value
  /// can start a header line of its own. Raises EHTTPHeaderAlreadyWritten ("Header has
  /// already been written.") when HeaderSent is set, writing nothing; connection errors
  /// pass through. Only the thread that serves the connection may call it.
  void SendHeader(std::string_view status = {});

  /// Writes the header block when it is still unwritten, then the body: the body stream,
  /// else BodyText unchanged, else a small page with the status (and CR LF). Afterwards
  /// BodyText is empty and the body stream released.
  void SendBody();

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
  /// The connection may outlive this reply, so the reply must say where it ends: a reply
  /// that keeps the connection and has nothing to send announces "Content-Length: 0", the
  /// 401 challenge page announces its length, and the engine sends no body after a HEAD.
  bool FramedReply = false;

 private:
  int status_code_ = StatusOK;
  bool close_after_reply_ = false;
  TStream* body_stream_ = nullptr;
  bool owns_body_stream_ = true;
  std::unique_ptr<TStream> owned_body_stream_;
};

}  // namespace quenby
