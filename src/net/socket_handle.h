#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/socket_stack.h"

namespace quenby {

class TSocketHandles;

/// One socket with its local and remote address: a listening binding of the server, or the
/// socket of one accepted connection (inside its TIOHandlerSocket).
///
/// The address fields are plain data of the owning thread. The socket itself is guarded:
/// ShutSocket may be called from any thread while the owner is blocked in a wait, receive
/// or send on it. The blocked call is woken (the socket is shut down both ways) and the
/// descriptor is closed only when no call uses it any more, so it can never be reused
/// under a running call.
class TSocketHandle {
 public:
  /// A binding of `collection` (starting with its DefaultPort), or a free-standing one.
  explicit TSocketHandle(TSocketHandles* collection = nullptr);
  /// Closes the socket (ShutSocket).
  virtual ~TSocketHandle();
  TSocketHandle(const TSocketHandle&) = delete;
  TSocketHandle& operator=(const TSocketHandle&) = delete;

  std::string IP;  ///< local address, dotted; empty = any local address
  int Port = 0;    ///< local port; 0 with a client range = pick from the range
  std::string RemoteIP;
  int RemotePort = 0;
  int ClientPortMin = 0;
  int ClientPortMax = 0;

  /// The descriptor, InvalidSocket when none is held.
  TSocket SocketHandle() const;
  /// Whether a socket is held. Cleared first when closing.
  bool HasSocket() const;
  /// Position in its collection, -1 when free-standing.
  int Index() const;

  /// Copies IP, Port, RemoteIP and RemotePort (not the socket).
  void Assign(const TSocketHandle& source);
  /// ShutSocket, then a new socket of the stack. Raises EInvalidSocket.
  void OpenSocket(int type = SOCK_STREAM, int protocol = 0);
  /// Shuts sending down and closes the socket, if one is held. Safe from any thread.
  virtual void ShutSocket();
  /// Shuts sending down only: the peer reads what was sent and then the end, while this
  /// side may still receive. False when no socket is held or the stack refused.
  bool ShutdownSending();
  /// Binds to IP and Port, or into the client port range. Raises ECouldNotBindSocket,
  /// EInvalidPortRange, ECanNotBindPortInRange, EInvalidIPAddress or ESocketError.
  void BindLocal();
  /// One bind attempt; false when the address and port are in use.
  bool TryBindLocal();
  /// Tries ClientPortMax down to ClientPortMin; raises ECanNotBindPortInRange.
  void BindInPortRange();
  /// Raises ESocketError when listen fails.
  void StartListening(int backlog);
  /// Accepts one connection from `listening` into this handle. False when the listening
  /// socket was closed or the wait was interrupted; other failures raise ESocketError.
  bool AcceptFrom(TSocketHandle& listening);
  /// As AcceptFrom, on a listening socket that does not wait (SetNonBlocking): NoneWaiting
  /// when no connection is waiting.
  enum class TAcceptOutcome { Accepted, NoneWaiting, Closed };
  TAcceptOutcome AcceptWaitingFrom(TSocketHandle& listening);
  /// Calls on the socket no longer wait; raises ESocketError on failure.
  void SetNonBlocking();
  /// Select for reading on a raw socket: true when exactly one socket is ready.
  static bool WaitSocketReadable(TSocket socket, int timeout);
  /// The same on this handle's socket; raises EConnClosedGracefully when none is held.
  bool WaitReadable(int timeout);
  /// Like WaitReadable but never raises: 1 ready, 0 not ready, -1 no socket held.
  int PollReadable(int timeout);
  /// True when no socket is held or its peer ended its sending side or reset the
  /// connection; never waits and consumes nothing. Safe from any thread.
  bool PeerHungUp();
  /// Whether received bytes wait to be read (the peer's close is not such a byte); false
  /// when no socket is held. Never waits and consumes nothing.
  bool HasPendingData();
  /// Marks no socket; with `reset_local` also clears IP and Port. Clears the remote address.
  void ClearAddresses(bool reset_local);
  void RefreshLocalAddress();
  void RefreshRemoteAddress();
  /// Raises ESocketError when the option cannot be set.
  void SetOption(int level, int name, int value);
  /// One send (never SIGPIPE); the stack's result, 0 when no socket is held.
  int SendData(const void* buffer, int length, int flags = 0);
  /// One receive; the stack's result, 0 when no socket is held.
  int ReceiveData(void* buffer, int length, int flags = 0);
  /// Has the kernel hold each new connection of this listening socket until its first bytes
  /// arrive, or `seconds` have passed. Only speed depends on it: a failure is ignored.
  void DeferAccept(int seconds);
  /// Bounds each later blocking receive on the socket held to `milliseconds` (> 0), after
  /// which it fails with the stack's would-block error. Set once per socket and value; false
  /// when it cannot be set or no socket is held.
  bool SetReceiveTimeout(int milliseconds);
  /// The stack's whole-file send on this socket; 0 on failure or when no socket is held.
  std::int64_t TransmitFile(const std::string& file_name);
  /// One kernel file send (see TSocketStack::SockSendFile); 0 when no socket is held.
  int SendFileData(int file, std::int64_t& offset, int length);

 private:
  friend class TSocketHandles;
  // Takes a use of the socket; false when none is held.
  bool Acquire(TSocket& socket);
  void Release();
  void AdoptSocket(TSocket socket);

  TSocketStackLease stack_lease_;
  TSocketHandles* collection_;
  mutable std::mutex lock_;  // guards the fields below
  TSocket socket_ = InvalidSocket;
  bool has_socket_ = false;
  int users_ = 0;
  TSocket pending_close_ = InvalidSocket;
  int receive_timeout_ = 0;  // the socket's receive time-out in ms; 0 for none
};

/// The server's bindings: an owned, ordered collection. New items start with DefaultPort.
/// Used by the activating thread only.
class TSocketHandles {
 public:
  TSocketHandles() = default;
  TSocketHandles(const TSocketHandles&) = delete;
  TSocketHandles& operator=(const TSocketHandles&) = delete;

  int DefaultPort = 0;

  /// A new binding at the end, its Port set to DefaultPort.
  TSocketHandle& Add();
  int Count() const { return static_cast<int>(items_.size()); }
  TSocketHandle& operator[](int index) { return *items_.at(static_cast<std::size_t>(index)); }
  const TSocketHandle& operator[](int index) const {
    return *items_.at(static_cast<std::size_t>(index));
  }
  /// Replaces the items by copies of `source`'s items (addresses, not sockets).
  void Assign(const TSocketHandles& source);
  /// Removes (and closes) one binding.
  void Delete(int index);
  void Clear() { items_.clear(); }
  int IndexOf(const TSocketHandle* item) const;

 private:
  std::vector<std::unique_ptr<TSocketHandle>> items_;
};

}  // namespace quenby
