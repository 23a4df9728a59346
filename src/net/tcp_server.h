#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "net/connection_intercept.h"
#include "net/listener_thread.h"
#include "net/net_component.h"
#include "net/peer_thread.h"
#include "net/rfc_reply.h"
#include "net/server_io_handler.h"
#include "net/socket_handle.h"
#include "net/thread_mgr.h"

namespace quenby {

/// Whether the address-reuse option is set on the bindings before bind.
enum TReuseSocket { rsOSDependent, rsTrue, rsFalse };

constexpr int DefaultListenQueue = 15;
constexpr int DefaultTerminateWaitTime = 5000;
/// Slice of the deactivation's wait for peer threads.
constexpr int TerminateWaitStep = 250;

/// The listening half of the transport: binds its Bindings, runs one TListenerThread per
/// binding and one TPeerThread per accepted connection.
///
/// Threads: the activation switch, the setters and the destructor run on one controlling
/// thread (the console's main thread); properties are changed only while inactive. Hooks
/// and OnConnect/OnExecute/OnDisconnect/OnException run on peer threads, OnListenException
/// on listener threads; handlers must be thread-safe.
class TTCPServer : public TNetComponent {
 public:
  TTCPServer();
  /// Deactivates, then waits for any peer thread still running (after a timeout) to end,
  /// so that no thread is left using the server.
  ~TTCPServer() override;

  int ListenQueue = DefaultListenQueue;
  /// Seconds a new connection may stay with the kernel until its first bytes arrive before it
  /// is accepted anyway; 0 (the default) accepts every connection at once. For protocols in
  /// which the client speaks first: its thread then starts with the request already there.
  int DeferAccept = 0;
  int MaxConnections = 0;  ///< 0 = unlimited
  TRFCReply MaxConnectionReply;
  TRFCReply Greeting;
  TRFCReply ReplyUnknownCommand;
  TRFCReplies ReplyTexts;
  int ReplyExceptionCode = 0;
  int TerminateWaitTime = DefaultTerminateWaitTime;  ///< ms; bound of the deactivation wait
  /// On Linux rsOSDependent sets the reuse option too (see SetActive); rsFalse never does.
  TReuseSocket ReuseSocket = rsOSDependent;

  std::function<void(TPeerThread&)> OnConnect;
  std::function<void(TPeerThread&)> OnExecute;
  std::function<void(TPeerThread&)> OnDisconnect;
  std::function<void(TPeerThread&, const std::exception&)> OnException;
  std::function<void(TListenerThread&, const std::exception&)> OnListenException;

  bool Active() const { return active_; }
  /// True after a stop that timed out: the listeners are gone, peer threads still run.
  bool StopUnfinished() const { return active_ && ListenerThreadCount() == 0; }
  /// Activates (binds, listens, starts listeners) or deactivates (stops listeners, drops
  /// every connection, waits up to TerminateWaitTime for peer threads). Setting the current
  /// value does nothing. Raises the bind exceptions (ECouldNotBindSocket, EInvalidPortRange,
  /// ECanNotBindPortInRange, EInvalidIPAddress, EInvalidSocket, ESocketError) after closing
  /// what was opened, and ETerminateThreadTimeout (Active then still reads true).
  /// Overrides call this one last.
  virtual void SetActive(bool value);

  TSocketHandles& Bindings() { return bindings_; }
  /// Copies the items.
  virtual void SetBindings(const TSocketHandles& bindings) { bindings_.Assign(bindings); }
  int DefaultPort() const { return bindings_.DefaultPort; }
  virtual void SetDefaultPort(int port) { bindings_.DefaultPort = port; }

  /// The thread manager, nullptr until one is set or first needed.
  std::shared_ptr<TThreadMgr> ThreadMgr() const;
  /// Replaces the manager (an implicit one is released). Only while inactive.
  virtual void SetThreadMgr(std::shared_ptr<TThreadMgr> manager);
  /// The manager, creating the implicit TThreadMgrDefault when none is set. Any thread.
  std::shared_ptr<TThreadMgr> AcquireThreadMgr();

  TServerIOHandler* IOHandler() const { return io_handler_; }
  /// Installs a handler the caller keeps owning (nullptr: a socket handler at activation).
  /// Only while inactive.
  virtual void SetIOHandler(TServerIOHandler* handler);
  TServerIntercept* Intercept() const { return intercept_; }
  /// Installs an intercept factory the caller keeps owning. Only while inactive.
  virtual void SetIntercept(TServerIntercept* intercept) { intercept_ = intercept; }

  // Hooks, called on the peer thread.
  /// Writes Greeting (texts filled from ReplyTexts) when it has content, then OnConnect.
  virtual void ConnectHook(TPeerThread& thread);
  virtual void DisconnectHook(TPeerThread& thread);
  /// One unit of a connection's work: fires OnExecute; false when it is not assigned.
  virtual bool ExecuteHook(TPeerThread& thread);
  void ReportPeerException(TPeerThread& thread, const std::exception& e);
  void ReportListenException(TListenerThread& thread, const std::exception& e);

  // PeerThreads: the running peer threads, under their own lock.
  int PeerThreadCount() const;
  /// Calls `visit` for each listed thread under the list's lock (a listed thread cannot
  /// free its connection meanwhile). `visit` must not block or call back into the list.
  void ForEachPeerThread(const std::function<void(TPeerThread&)>& visit) const;
  /// Lists a thread (listener threads).
  void AddPeerThread(TPeerThread* thread);
  /// Unlists a thread and gives it the manager to return itself to (peer threads).
  std::shared_ptr<TThreadMgr> LeavePeerThreads(TPeerThread* thread);
  /// For a pooled peer thread whose connection has ended, while it is still listed: accepts
  /// a connection already waiting on its listening socket, makes it the thread's connection
  /// and starts the thread's next round, so that a busy server need not park one thread and
  /// wake another. False, with nothing changed, when none is waiting, when the server is
  /// stopping, for a thread that ends with its connection, or while MaxConnections is set
  /// (the listener alone enforces it).
  bool ServeWaitingConnection(TPeerThread& thread);
  /// Listener threads running; 0 when inactive.
  int ListenerThreadCount() const;
  /// Connections accepted and then closed unserved, because no thread could be made or
  /// started for them, since the server was made.
  std::int64_t UnservedConnectionCount() const { return unserved_connections_; }
  /// Counts one such connection (listener threads).
  void CountUnservedConnection() { ++unserved_connections_; }

 protected:
  /// Runs once, at the first activation.
  virtual void Startup() {}
  /// Makes the server's peer threads; handed to the thread manager at every activation.
  TThreadClass PeerThreadClass;

 private:
  void Activate();
  void OpenBindings();
  void StartListeners();
  void Deactivate();
  void StopListenerThreads();
  void SetAccepting(bool accepting);
  void StopPeerThreads();
  void EndThreadMgr();
  void ReleaseImplicitThreadMgr();
  void AbortActivation();

  bool active_ = false;
  bool started_up_ = false;
  TSocketHandles bindings_;
  mutable std::mutex manager_lock_;  // guards thread_mgr_ and its flag
  std::shared_ptr<TThreadMgr> thread_mgr_;
  bool implicit_thread_mgr_ = false;
  TServerIOHandler* io_handler_ = nullptr;
  std::unique_ptr<TServerIOHandler> implicit_io_handler_;
  TServerIntercept* intercept_ = nullptr;
  mutable std::mutex listener_lock_;  // guards listener_threads_ (ListenerThreads)
  std::vector<std::unique_ptr<TListenerThread>> listener_threads_;
  mutable std::mutex peer_lock_;  // guards peer_threads_ (PeerThreads)
  std::condition_variable peer_left_;
  std::vector<TPeerThread*> peer_threads_;
  bool accepting_ =
      false;  // guarded by peer_lock_: listeners run, threads may take waiting connections
  std::atomic<std::int64_t> unserved_connections_{0};
};

}  // namespace quenby
