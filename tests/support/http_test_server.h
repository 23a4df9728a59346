#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_server.h"

namespace quenby::test {

/// A THTTPServer on 127.0.0.1 at a port the system picks, for end-to-end tests. Configure
/// Server() before Start(); the destructor deactivates it (a scope guard for the test).
/// Exceptions the peer threads report through OnException are recorded.
class THTTPTestServer {
 public:
  THTTPTestServer();
  ~THTTPTestServer();
  THTTPTestServer(const THTTPTestServer&) = delete;
  THTTPTestServer& operator=(const THTTPTestServer&) = delete;

  THTTPServer& Server() { return *server_; }
  /// Activates the server; fails the test when it cannot.
  void Start();
  int Port() const;
  /// Sends `request` on a new connection and returns everything received until the server
  /// closes it (bounded wait).
  std::string Exchange(const std::string& request) const;
  /// "Class: message" of every exception reported so far.
  std::vector<std::string> Exceptions() const;

 private:
  std::unique_ptr<THTTPServer> server_;
  mutable std::mutex lock_;  // guards exceptions_
  std::vector<std::string> exceptions_;
};

/// A raw reply split at its first blank line.
struct THTTPReplyParts {
  std::string StatusLine;
  /// The header lines, without line ends.
  std::vector<std::string> Headers;
  std::string Body;
};

/// Splits `raw` ("status CR LF headers CR LF CR LF body"); a reply without a blank line
/// gives everything after the status line as headers.
THTTPReplyParts SplitReply(const std::string& raw);

}  // namespace quenby::test
