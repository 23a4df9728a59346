#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "net/io_handler.h"
#include "net/tcp_connection.h"

namespace quenby::test {

/// An I/O handler over memory, so that a real connection, request reader or reply writer
/// runs without sockets. The input is a script of chunks: each receive returns at most the
/// rest of one chunk, so a test decides exactly how the bytes arrive. Every byte sent is
/// recorded. The n-th receive or send (counting from 1) can be made to fail with a socket
/// error code, which SockLastError then reports as for a socket.
///
/// Threads: the connection's owning thread makes every call, except CloseHandler (any
/// thread). Test code reads the record once the connection's work is over.
class TMemoryIOHandler : public TIOHandler {
 public:
  /// What follows the last chunk: the peer's close (a receive of 0 bytes), or silence
  /// (every wait for input times out at once, whatever its limit).
  enum class TInputEnd { Close, Silence };

  explicit TMemoryIOHandler(std::vector<std::string> chunks = {}, TInputEnd end = TInputEnd::Close);

  /// Appends a chunk to the input script.
  void AddInput(std::string chunk);
  /// The `call`-th receive fails with `code` (SocketError returned).
  void FailReceive(int call, int code);
  /// The `call`-th send fails with `code` (SocketError returned, nothing taken).
  void FailSend(int call, int code);
  /// Most bytes one send takes (a short send); 0: all it is given.
  std::size_t MaxSendCount = 0;

  /// Every byte taken by the sends, in order.
  const std::string& Output() const { return output_; }
  /// What each successful send took, one entry per call.
  const std::vector<std::string>& Sends() const { return sends_; }
  int ReceiveCalls() const { return receive_calls_; }
  int SendCalls() const { return send_calls_; }
  /// Input not received yet.
  std::size_t PendingInput() const;
  bool Closed() const { return closed_; }

  void CloseHandler() override { closed_ = true; }
  bool HandlerConnected() override { return !closed_; }
  bool HandlerReadable(int timeout) override;
  int HandlerRecv(void* buffer, int length) override;
  int HandlerSend(const void* buffer, int length) override;

 private:
  struct TFailure {
    int call = 0;
    int code = 0;
  };
  static bool Fails(const TFailure& failure, int call);

  std::deque<std::string> input_;
  std::size_t consumed_ = 0;  // of the first chunk
  TInputEnd end_;
  TFailure receive_failure_;
  TFailure send_failure_;
  int receive_calls_ = 0;
  int send_calls_ = 0;
  std::string output_;
  std::vector<std::string> sends_;
  std::atomic<bool> closed_{false};
};

/// A connection over a memory handler that the test keeps (declared first, so it outlives
/// the connection).
struct TMemoryConnection {
  explicit TMemoryConnection(std::vector<std::string> chunks = {},
                             TMemoryIOHandler::TInputEnd end = TMemoryIOHandler::TInputEnd::Close);
  TMemoryIOHandler handler;
  TTCPConnection connection;
};

/// One way of delivering a text: its chunks and a name for failure messages.
struct TDelivery {
  std::string Name;
  std::vector<std::string> Chunks;
};

/// The ways a test delivers `text`: whole, cut in two at every inner position, and one byte
/// per chunk.
std::vector<TDelivery> Deliveries(const std::string& text);

}  // namespace quenby::test
