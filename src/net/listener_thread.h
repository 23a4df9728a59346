#pragma once

#include "net/net_thread.h"
#include "net/socket_handle.h"

namespace quenby {

class TTCPServer;

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
  /// server's OnListenException and never end the thread.
  void RunOnce() override;
  /// Closes the binding's socket.
  void FinishRun() override;

 private:
  TTCPServer* server_;
  TSocketHandle* binding_;
};

}  // namespace quenby
