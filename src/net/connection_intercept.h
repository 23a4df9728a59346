#pragma once

#include <memory>
#include <string>

namespace quenby {

class TTCPConnection;

/// Sees and may rewrite whole chunks a connection receives and sends. Receive and Send run
/// on the connection's owning thread; Disconnect may run on any thread (DropSocket).
class TConnectionIntercept {
 public:
  virtual ~TConnectionIntercept() = default;
  /// Rewrites one received chunk in place (its size may change).
  virtual void Receive(std::string& /*bytes*/) {}
  /// Rewrites one chunk about to be sent in place (its size may change).
  virtual void Send(std::string& /*bytes*/) {}
  /// The connection's socket is being dropped.
  virtual void Disconnect() {}
};

/// Makes one TConnectionIntercept per accepted connection, on the connection's peer thread.
class TServerIntercept {
 public:
  virtual ~TServerIntercept() = default;
  virtual std::shared_ptr<TConnectionIntercept> Accept(TTCPConnection& connection) = 0;
};

}  // namespace quenby
