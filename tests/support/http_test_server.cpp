#include "support/http_test_server.h"

#include <gtest/gtest.h>

#include "support/net_loopback.h"
#include "util/exception.h"

namespace quenby::test {
namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view BlankLine = "\r\n\r\n";

}  // namespace

THTTPTestServer::THTTPTestServer() : server_(std::make_unique<THTTPServer>()) {
  TSocketHandle& binding = server_->Bindings().Add();
  binding.IP = "127.0.0.1";
  binding.Port = 0;
  server_->OnException = [this](TPeerThread&, const std::exception& e) {
    std::lock_guard<std::mutex> guard(lock_);
    exceptions_.push_back(ExceptionClassName(e) + ": " + e.what());
  };
}

THTTPTestServer::~THTTPTestServer() {
  server_->SetActive(false);
}

void THTTPTestServer::Start() {
  ASSERT_NO_THROW(server_->SetActive(true));
  ASSERT_GT(Port(), 0);
}

int THTTPTestServer::Port() const {
  return server_->Bindings()[0].Port;
}

std::string THTTPTestServer::Exchange(const std::string& request) const {
  TLoopbackClient client(Port());
  client.Send(request);
  return client.ReceiveUntilClose();
}

std::vector<std::string> THTTPTestServer::Exceptions() const {
  std::lock_guard<std::mutex> guard(lock_);
  return exceptions_;
}

THTTPReplyParts SplitReply(const std::string& raw) {
  THTTPReplyParts parts;
  const std::size_t blank = raw.find(BlankLine);
  const std::string head = raw.substr(0, blank);
  if (blank != std::string::npos)
    parts.Body = raw.substr(blank + BlankLine.size());
  std::size_t start = 0;
  bool first = true;
  while (start <= head.size()) {
    std::size_t end = head.find(LineEnd, start);
    if (end == std::string::npos)
      end = head.size();
    std::string line = head.substr(start, end - start);
    if (first)
      parts.StatusLine = std::move(line);
    else
      parts.Headers.push_back(std::move(line));
    first = false;
    start = end + LineEnd.size();
  }
  return parts;
}

}  // namespace quenby::test
