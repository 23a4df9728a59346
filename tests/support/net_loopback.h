#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/tcp_connection.h"

namespace quenby::test {

/// A raw loopback client socket for tests: plain blocking POSIX calls with bounded waits.
class TLoopbackClient {
 public:
  /// Connects to 127.0.0.1:`port`; fails the test when it cannot.
  explicit TLoopbackClient(int port);
  ~TLoopbackClient();
  TLoopbackClient(const TLoopbackClient&) = delete;
  TLoopbackClient& operator=(const TLoopbackClient&) = delete;

  int Handle() const { return fd_; }
  void Send(const std::string& bytes);
  /// Reads until `count` bytes, the peer's close or `timeout`; returns what arrived.
  std::string Receive(std::size_t count,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Reads up to and including the first LF (or until close / timeout).
  std::string ReceiveLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Reads until the peer closes (bounded by `timeout`).
  std::string ReceiveUntilClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// True when the peer closed (or reset) within `timeout`.
  bool WaitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// Orderly close.
  void Close();
  /// Closes with a reset (SO_LINGER 0).
  void Reset();
  /// Shuts down sending only.
  void ShutdownSend();

 private:
  int fd_ = -1;
};

/// A server-side TTCPConnection over a real accepted loopback socket, with its client.
struct TLoopbackPair {
  TLoopbackPair();
  std::unique_ptr<TTCPConnection> server;
  std::unique_ptr<TLoopbackClient> client;
};

/// Waits on a condition with a bounded timeout; true when it became true.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace quenby::test
