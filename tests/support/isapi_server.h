#pragma once

#include <memory>
#include <string>

#include "http/http_server.h"
#include "isapi/isapi_runner.h"

namespace quenby::test {

/// A real THTTPServer on 127.0.0.1 (port 0, keep-alive off) whose handler runs the module
/// named by the request path through a TISAPIRunner: "/sub/name.dll/extra" runs
/// `root` + "/sub/name.dll" (the path's own case kept) with directory `root` + "/" and
/// path information "/extra". Paths without ".dll" get a 404 from the engine.
class TISAPITestServer {
 public:
  explicit TISAPITestServer(std::string root);
  /// Stops the server (joining its peer threads) before the runner goes.
  ~TISAPITestServer();
  TISAPITestServer(const TISAPITestServer&) = delete;
  TISAPITestServer& operator=(const TISAPITestServer&) = delete;

  /// Activates the server; call after setting the runner's events.
  void Start();
  /// Deactivates the server (no run in progress afterwards).
  void Stop();
  int Port() const;

  /// Sends `request` on a new connection and returns every byte until the server closes.
  std::string Fetch(const std::string& request) const;
  /// Fetch of "GET `target` HTTP/1.1" with a Host line and nothing else.
  std::string Get(const std::string& target) const;

  THTTPServer& Server() { return *server_; }
  TISAPIRunner& Runner() { return *runner_; }
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
  std::unique_ptr<TISAPIRunner> runner_;
  std::unique_ptr<THTTPServer> server_;
};

/// The body of a reply: what follows the first empty line (the whole text when none).
std::string BodyOf(const std::string& reply);
/// The status line of a reply, without its CR LF.
std::string StatusLineOf(const std::string& reply);
/// The value of the first header line `name` (case-insensitive) of a reply; empty if none.
std::string HeaderOf(const std::string& reply, const std::string& name);

}  // namespace quenby::test
