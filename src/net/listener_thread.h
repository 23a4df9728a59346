#pragma once

#include "net/net_thread.h"
#include "net/socket_handle.h"

namespace quenby {

class TTCPServer;

/// How long a listener waits before it accepts again after the system ran out of
/// descriptors, memory or threads for a new connection.
constexpr int AcceptBackoffTime = 50;

/// Accepts connections on one binding of a server and hands each to a new peer thread.
/// Owned by the server, which stops and frees it at deactivation.
class TListenerThread : public TNetThread {
 public:
  TListenerThread(TTCPServer* server, TSocketHandle* binding);
  ~TListenerThread() override;

  TTCPServer* Server() const { return server_; }
  TSocketHandle* Binding() const { return binding_; }

 protected:
  /// Accepts until one connection is handed to a peer thread; accept failures go to the
  /// server's OnListenException and never end the thread. When the system runs out of
  /// descriptors, memory or threads the listener waits AcceptBackoffTime before it tries
  /// again, instead of spinning on the pending connection, and reports only the first
  /// failure of such a burst; a connection that could not get a thread is closed.
  void RunOnce() override;
  /// Closes the binding's socket.
  void FinishRun() override;

 private:
  void ReportFailure(const std::exception& e);

  TTCPServer* server_;
  TSocketHandle* binding_;
  bool exhausted_ = false;  // in a burst of resource failures; the listener's own
};

}  // namespace quenby
