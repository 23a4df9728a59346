#include "http/http_response_info.h"

#include "http/status_text.h"

namespace quenby {
namespace {

constexpr int kNotFoundStatusCode = 404;

}  // namespace

THTTPResponseInfo::THTTPResponseInfo(TTCPConnection* connection)
    : ClientConnection(connection), StatusText(StatusTextOf(DefaultStatusCode)) {
  Headers.FoldOnSet = false;
  Server = DefaultServer;
}

THTTPResponseInfo::~THTTPResponseInfo() {
  ReleaseBodyStream();
}

void THTTPResponseInfo::SetStatusCode(int code) {
  status_code_ = code;
  StatusText = StatusTextOf(code);
  if (code == kNotFoundStatusCode)
    SetCloseAfterReply(true);
}

void THTTPResponseInfo::SetCloseAfterReply(bool close) {
  close_after_reply_ = close;
  Connection = close ? "close" : "keep-alive";
}

void THTTPResponseInfo::RedirectTo(std::string_view url) {
  SetStatusCode(RedirectStatusCode);
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

}  // namespace quenby
