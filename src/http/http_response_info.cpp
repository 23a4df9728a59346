#include "http/http_response_info.h"

#include <cstdint>
#include <string>

#include "http/http_date.h"
#include "http/http_exceptions.h"
#include "http/status_text.h"
#include "net/net_exceptions.h"
#include "net/tcp_connection.h"

namespace quenby {
namespace {

// Replies that end with their head, whatever length the resource has: a length line on them
// would describe the resource, not the reply.
bool NeverHasBody(int status) {
  return status < StatusOK || status == StatusNoContent || status == StatusNotModified;
}

constexpr const char* ReplyVersion = "HTTP/1.1";
constexpr const char* LineEnd = "\r\n";

// Ends the line that starts at `start` in `block`. A CR or LF inside a header value would let
// text the client chose (a redirect target, a cookie value) begin a header line of its own; on
// the wire it becomes a space.
void EndWireLine(std::string& block, std::size_t start) {
  for (std::size_t i = start; i < block.size(); ++i) {
    if (block[i] == '\r' || block[i] == '\n')
      block[i] = ' ';
  }
  block += LineEnd;
}

void AppendWireLine(std::string& block, std::string_view line) {
  const std::size_t start = block.size();
  block += line;
  EndWireLine(block, start);
}

// Room for the header block of a usual reply, so that composing it allocates once.
constexpr std::size_t UsualHeaderBlockSize = 256;

// The small page sent for a status when there is no body.
std::string StatusPage(int code, std::string_view text) {
  return "<HTML><BODY><B>" + std::to_string(code) + " " + std::string(text) + "</B></BODY></HTML>";
}

}  // namespace

THTTPResponseInfo::THTTPResponseInfo(TTCPConnection* connection)
    : ClientConnection(connection), StatusText(StatusTextOf(StatusOK)) {
  Headers.FoldOnSet = false;
  Server = DefaultServer;
}

THTTPResponseInfo::~THTTPResponseInfo() {
  ReleaseBodyStream();
}

void THTTPResponseInfo::SetStatusCode(int code) {
  status_code_ = code;
  StatusText = StatusTextOf(code);
  if (code == StatusNotFound)
    SetCloseAfterReply(true);
}

void THTTPResponseInfo::SetCloseAfterReply(bool close) {
  close_after_reply_ = close;
  Connection = close ? "close" : "keep-alive";
}

void THTTPResponseInfo::RedirectTo(std::string_view url) {
  SetStatusCode(StatusMovedTemporarily);
  Location = std::string(url);
}

void THTTPResponseInfo::SetBodyStream(std::unique_ptr<TStream> stream) {
  ReleaseBodyStream();
  owned_body_stream_ = std::move(stream);
  body_stream_ = owned_body_stream_.get();
  owns_body_stream_ = true;
}

void THTTPResponseInfo::LendBodyStream(TStream& stream) {
  ReleaseBodyStream();
  body_stream_ = &stream;
  owns_body_stream_ = false;
}

void THTTPResponseInfo::ReleaseBodyStream() {
  owned_body_stream_.reset();
  body_stream_ = nullptr;
}

void THTTPResponseInfo::BuildHeaders() {
  TResponseHeaderInfo::BuildHeaders();
  SetIfNotEmpty("Server", Server);
  SetIfNotEmpty("Content-Type", ContentType);
  SetIfNotEmpty("Location", Location);
  if (ContentLength() >= 0)
    Headers.SetValue("Content-Length", std::to_string(ContentLength()));
  if (LastModified > 0)
    Headers.SetValue("Last-Modified", HttpDateGMT(LastModified));
  if (!BasicRealm.empty()) {
    SetStatusCode(StatusUnauthorized);
    Headers.SetValue("WWW-Authenticate", "Basic realm=\"" + BasicRealm + "\"");
    // The challenge page is announced by the connection's end, not by a length line.
    if (ContentLength() == -1) {
      BodyText = StatusPage(StatusUnauthorized, StatusTextOf(StatusUnauthorized));
      SetContentLength(static_cast<std::int32_t>(BodyText.size()));
      if (FramedReply)
        Headers.SetValue("Content-Length", std::to_string(ContentLength()));
    }
  }
}

void THTTPResponseInfo::SendHeader(std::string_view status) {
  if (HeaderSent)
    throw EHTTPHeaderAlreadyWritten("Header has already been written.");
  if (ClientConnection == nullptr)
    throw ENotConnected(RSNotConnected);
  HeaderSent = true;
  if (ContentLength() == -1) {
    if (!BodyText.empty())
      SetContentLength(static_cast<std::int32_t>(BodyText.size()));
    else if (BodyStream() != nullptr && CanAnnounceLength(BodyStream()->Size()))
      SetContentLength(static_cast<std::int32_t>(BodyStream()->Size()));
    else if (BodyStream() != nullptr)
      SetCloseAfterReply(true);  // too long to announce: the close ends the body
    else if (FramedReply && !CloseAfterReply() && BasicRealm.empty() &&  // the challenge has a page
             !NeverHasBody(StatusCode()))
      SetContentLength(0);
  }
  BuildHeaders();
  // The whole block is composed first, so it leaves in one send and a failure while
  // composing writes nothing.
  std::string block;
  block.reserve(UsualHeaderBlockSize);
  block += ReplyVersion;
  block += ' ';
  if (status.empty()) {
    block += std::to_string(StatusCode());
    block += ' ';
    block += StatusText;
  } else {
    block += status;
  }
  EndWireLine(block, 0);
  for (const std::string& line : Headers.Lines()) {
    if (line.empty())
      continue;  // an empty line would end the block early
    AppendWireLine(block, line);
  }
  for (int i = 0; i < ServerCookies.Count(); ++i)
    AppendWireLine(block, "Set-Cookie: " + ServerCookies[i].ServerCookie());
  block += LineEnd;
  ClientConnection->WriteText(block);
}

void THTTPResponseInfo::SendBody() {
  if (!HeaderSent)
    SendHeader();
  if (BodyStream() != nullptr)
    ClientConnection->WriteFromStream(*BodyStream(), true);
  else if (!BodyText.empty())
    ClientConnection->WriteText(BodyText);
  else
    ClientConnection->WriteLine(StatusPage(StatusCode(), StatusText));
  BodyText.clear();
  ReleaseBodyStream();
}

}  // namespace quenby
