#include "net/socket_handle.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include "util/text.h"

namespace quenby {

namespace {

constexpr int MaxPort = 65535;
constexpr const char* WildcardAddress = "0.0.0.0";  // a listener bound to every address

// Holds one use of a handle's socket for the length of one call.
class TSocketUse {
 public:
  TSocketUse(bool acquired, TSocketHandle& handle, void (TSocketHandle::*release)())
      : acquired_(acquired), handle_(handle), release_(release) {}
  ~TSocketUse() {
    if (acquired_)
      (handle_.*release_)();
  }
  TSocketUse(const TSocketUse&) = delete;
  TSocketUse& operator=(const TSocketUse&) = delete;
  explicit operator bool() const { return acquired_; }

 private:
  bool acquired_;
  TSocketHandle& handle_;
  void (TSocketHandle::*release_)();
};

}  // namespace

#define QUENBY_USE_SOCKET(name, fd) \
  TSocket fd = InvalidSocket;       \
  TSocketUse name(Acquire(fd), *this, &TSocketHandle::Release)

TSocketHandle::TSocketHandle(TSocketHandles* collection) : collection_(collection) {
  if (collection_ != nullptr) {
    Port = collection_->DefaultPort;
  }
}

TSocketHandle::~TSocketHandle() {
  ShutSocket();
}

TSocket TSocketHandle::SocketHandle() const {
  std::lock_guard<std::mutex> lock(lock_);
  return socket_;
}

bool TSocketHandle::HasSocket() const {
  std::lock_guard<std::mutex> lock(lock_);
  return has_socket_;
}

int TSocketHandle::Index() const {
  return collection_ != nullptr ? collection_->IndexOf(this) : -1;
}

void TSocketHandle::Assign(const TSocketHandle& source) {
  IP = source.IP;
  Port = source.Port;
  RemoteIP = source.RemoteIP;
  RemotePort = source.RemotePort;
}

bool TSocketHandle::Acquire(TSocket& socket) {
  std::lock_guard<std::mutex> lock(lock_);
  if (!has_socket_) {
    return false;
  }
  ++users_;
  socket = socket_;
  return true;
}

void TSocketHandle::Release() {
  TSocket to_close = InvalidSocket;
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (--users_ == 0 && pending_close_ != InvalidSocket) {
      to_close = pending_close_;
      pending_close_ = InvalidSocket;
    }
  }
  if (to_close != InvalidSocket) {
    SocketStack().SockClose(to_close);
  }
}

void TSocketHandle::AdoptSocket(TSocket socket) {
  std::lock_guard<std::mutex> lock(lock_);
  socket_ = socket;
  has_socket_ = true;
  receive_timeout_ = 0;
}

void TSocketHandle::OpenSocket(int type, int protocol) {
  ShutSocket();
  if (HasSocket()) {
    ClearAddresses(true);
  }
  AdoptSocket(SocketStack().CreateSocket(type, protocol));
}

void TSocketHandle::ShutSocket() {
  TSocket to_close = InvalidSocket;
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (!has_socket_) {
      return;
    }
    has_socket_ = false;
    if (users_ > 0) {
      // Another thread is inside a call on it: wake that call; it closes on release.
      SocketStack().SockShutdown(socket_, SHUT_RDWR);
      pending_close_ = socket_;
    } else {
      SocketStack().SockShutdown(socket_, SHUT_WR);
      to_close = socket_;
    }
    socket_ = InvalidSocket;
  }
  if (to_close != InvalidSocket) {
    SocketStack().SockClose(to_close);
  }
}

void TSocketHandle::BindLocal() {
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (!TryBindLocal()) {
      throw ECouldNotBindSocket(RSCouldNotBindSocket);
    }
    return;
  }
  if (ClientPortMax < ClientPortMin || ClientPortMin < 0 || ClientPortMax > MaxPort) {
    throw EInvalidPortRange(Format(RSInvalidPortRange, ClientPortMin, ClientPortMax));
  }
  BindInPortRange();
}

bool TSocketHandle::TryBindLocal() {
  int result = SocketError;
  {
    QUENBY_USE_SOCKET(use, socket);
    if (!use) {
      throw EConnClosedGracefully(RSConnectionClosedGracefully);
    }
    result = SocketStack().SockBind(socket, AF_INET, IP, Port);
  }
  if (SocketStack().CheckSocketResult(result, {SockErrAddressInUse})) {
    return false;
  }
  RefreshLocalAddress();
  return true;
}

void TSocketHandle::BindInPortRange() {
  for (int port = ClientPortMax; port >= ClientPortMin; --port) {
    Port = port;
    if (TryBindLocal()) {
      return;
    }
  }
  throw ECanNotBindPortInRange(Format(RSCanNotBindRange, ClientPortMin, ClientPortMax));
}

void TSocketHandle::StartListening(int backlog) {
  int result = SocketError;
  {
    QUENBY_USE_SOCKET(use, socket);
    if (!use) {
      throw EConnClosedGracefully(RSConnectionClosedGracefully);
    }
    result = SocketStack().SockListen(socket, backlog);
  }
  SocketStack().CheckSocketResult(result);
}

bool TSocketHandle::AcceptFrom(TSocketHandle& listening) {
  return AcceptWaitingFrom(listening) == TAcceptOutcome::Accepted;
}

void TSocketHandle::SetNonBlocking() {
  int result = SocketError;
  {
    QUENBY_USE_SOCKET(use, socket);
    if (!use) {
      throw EConnClosedGracefully(RSConnectionClosedGracefully);
    }
    result = SocketStack().SockSetNonBlocking(socket);
  }
  SocketStack().CheckSocketResult(result, {});
}

TSocketHandle::TAcceptOutcome TSocketHandle::AcceptWaitingFrom(TSocketHandle& listening) {
  ClearAddresses(true);
  TSocket accepted = SocketError;
  std::string remote_ip;
  int remote_port = 0;
  {
    TSocket socket = InvalidSocket;
    TSocketUse use(listening.Acquire(socket), listening, &TSocketHandle::Release);
    if (!use) {
      return TAcceptOutcome::Closed;  // the listening socket was closed: as "not a socket"
    }
    accepted = SocketStack().SockAccept(socket, remote_ip, remote_port);
  }
  TSocketStack& stack = SocketStack();
  if (stack.CheckSocketResult(accepted,
                              {SockErrInterrupted, SockErrNotSocket, SockErrWouldBlock})) {
    return stack.SockLastError() == SockErrWouldBlock ? TAcceptOutcome::NoneWaiting
                                                      : TAcceptOutcome::Closed;
  }
  AdoptSocket(accepted);
  if (listening.IP.empty() || listening.IP == WildcardAddress) {
    RefreshLocalAddress();  // which of the host's addresses the client reached
  } else {
    IP = listening.IP;  // a socket bound to one address accepts on that address and port only
    Port = listening.Port;
  }
  RemoteIP = remote_ip;
  RemotePort = remote_port;
  return TAcceptOutcome::Accepted;
}

bool TSocketHandle::WaitSocketReadable(TSocket socket, int timeout) {
  TSocketList read{socket};
  return SocketStack().SockSelect(&read, nullptr, nullptr, timeout) == 1;
}

int TSocketHandle::PollReadable(int timeout) {
  QUENBY_USE_SOCKET(use, socket);
  if (!use) {
    return -1;
  }
  return WaitSocketReadable(socket, timeout) ? 1 : 0;
}

bool TSocketHandle::PeerHungUp() {
  QUENBY_USE_SOCKET(use, socket);
  return !use || SocketStack().SockPeerHungUp(socket);
}

bool TSocketHandle::HasPendingData() {
  QUENBY_USE_SOCKET(use, socket);
  return use && SocketStack().SockHasPendingData(socket);
}

bool TSocketHandle::WaitReadable(int timeout) {
  const int result = PollReadable(timeout);
  if (result < 0) {
    throw EConnClosedGracefully(RSConnectionClosedGracefully);
  }
  return result == 1;
}

void TSocketHandle::ClearAddresses(bool reset_local) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    has_socket_ = false;
    socket_ = InvalidSocket;
  }
  if (reset_local) {
    IP.clear();
    Port = 0;
  }
  RemoteIP.clear();
  RemotePort = 0;
}

void TSocketHandle::RefreshLocalAddress() {
  QUENBY_USE_SOCKET(use, socket);
  if (use) {
    int family = 0;
    SocketStack().SockLocalName(socket, family, IP, Port);
  }
}

void TSocketHandle::RefreshRemoteAddress() {
  QUENBY_USE_SOCKET(use, socket);
  if (use) {
    int family = 0;
    SocketStack().SockRemoteName(socket, family, RemoteIP, RemotePort);
  }
}

void TSocketHandle::SetOption(int level, int name, int value) {
  int result = SocketError;
  {
    QUENBY_USE_SOCKET(use, socket);
    if (!use) {
      throw EConnClosedGracefully(RSConnectionClosedGracefully);
    }
    result = SocketStack().SockSetOption(socket, level, name, &value, sizeof(value));
  }
  SocketStack().CheckSocketResult(result);
}

bool TSocketHandle::ShutdownSending() {
  QUENBY_USE_SOCKET(use, socket);
  return use && SocketStack().SockShutdown(socket, SHUT_WR) == 0;
}

int TSocketHandle::SendData(const void* buffer, int length, int flags) {
  QUENBY_USE_SOCKET(use, socket);
  return use ? SocketStack().SockSend(socket, buffer, length, flags) : 0;
}

int TSocketHandle::ReceiveData(void* buffer, int length, int flags) {
  QUENBY_USE_SOCKET(use, socket);
  return use ? SocketStack().SockRecv(socket, buffer, length, flags) : 0;
}

void TSocketHandle::DeferAccept(int seconds) {
  QUENBY_USE_SOCKET(use, socket);
  if (use)
    SocketStack().SockSetOption(socket, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
}

bool TSocketHandle::SetReceiveTimeout(int milliseconds) {
  QUENBY_USE_SOCKET(use, socket);
  if (!use)
    return false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (receive_timeout_ == milliseconds)
      return true;
  }
  const timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
  if (SocketStack().SockSetOption(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0)
    return false;
  std::lock_guard<std::mutex> lock(lock_);
  receive_timeout_ = milliseconds;
  return true;
}

int TSocketHandle::SendFileData(int file, std::int64_t& offset, int length) {
  QUENBY_USE_SOCKET(use, socket);
  return use ? SocketStack().SockSendFile(socket, file, offset, length) : 0;
}

std::int64_t TSocketHandle::TransmitFile(const std::string& file_name) {
  QUENBY_USE_SOCKET(use, socket);
  return use ? SocketStack().TransmitFile(socket, file_name) : 0;
}

TSocketHandle& TSocketHandles::Add() {
  items_.push_back(std::make_unique<TSocketHandle>(this));
  return *items_.back();
}

void TSocketHandles::Assign(const TSocketHandles& source) {
  if (&source == this) {
    return;
  }
  items_.clear();
  for (const auto& item : source.items_) {
    Add().Assign(*item);
  }
}

void TSocketHandles::Delete(int index) {
  items_.erase(items_.begin() + index);
}

int TSocketHandles::IndexOf(const TSocketHandle* item) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == item) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace quenby
