#pragma once

#include <memory>

#include "net/net_thread.h"
#include "net/tcp_connection.h"

namespace quenby {

/// The thread of one accepted connection. It owns its TTCPServerConnection and runs the
/// server's hooks for it: ConnectHook, ExecuteHook while the connection lasts,
/// DisconnectHook. When it ends it leaves the server's PeerThreads, returns itself to the
/// thread manager (and so frees itself) and frees the connection.
class TPeerThread : public TNetThread {
 public:
  TPeerThread() = default;
  ~TPeerThread() override;

  /// The connection; nullptr once the thread has cleaned up. Read by the owning thread,
  /// and by the server under its PeerThreads lock while this thread is listed there.
  TTCPServerConnection* Connection() const { return connection_.get(); }
  /// Gives the thread its connection, before Start.
  void SetConnection(std::unique_ptr<TTCPServerConnection> connection);
  /// Makes `next` the connection and hands back the one it replaces (the server, under its
  /// PeerThreads lock, when the thread takes on a waiting connection).
  std::unique_ptr<TTCPServerConnection> ExchangeConnection(
      std::unique_ptr<TTCPServerConnection> next);
  /// The listening socket the thread's connections come from; set by the listener before
  /// Start, lives as long as the server.
  TSocketHandle* Listening() const { return listening_; }
  void SetListening(TSocketHandle* listening) { listening_ = listening; }

 protected:
  void PrepareRun() override;
  void RunOnce() override;
  void FinishRun() override;
  void CleanupRun() override;

 private:
  std::unique_ptr<TTCPServerConnection> connection_;
  TSocketHandle* listening_ = nullptr;
};

}  // namespace quenby
