// The stack's socket calls over POSIX sockets. Every failure leaves its translated code in
// a thread-local slot that SockLastError reads, so concurrent threads never see each
// other's codes.
#include "net/socket_stack.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/sigpipe_guard.h"
#include "util/text.h"

namespace quenby {

namespace {

thread_local int t_last_error = 0;

int Fail() {
  t_last_error = TSocketStack::TranslateErrno(errno);
  return SocketError;
}

constexpr int MaxPort = 65535;

void CheckPort(int port) {
  if (port < 0 || port > MaxPort) {
    throw EInvalidPortRange(Format(RSInvalidPortRange, port, port));
  }
}

sockaddr_in MakeAddress(int family, const std::string& ip, int port) {
  CheckPort(port);
  sockaddr_in address{};
  address.sin_family = static_cast<sa_family_t>(family);
  address.sin_addr.s_addr = ip.empty() ? htonl(INADDR_ANY) : TSocketStack::AddressToNumber(ip);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

void ReadAddress(const sockaddr_in& address, std::string& ip, int& port) {
  ip = TSocketStack::AddressToText(address.sin_addr.s_addr);
  port = ntohs(address.sin_port);
}

bool CheckListSize(const TSocketList* list) {
  if (list != nullptr && list->size() > static_cast<std::size_t>(MaxSocketListSize)) {
    throw EStackSetSizeExceeded(RSSetSizeExceeded);
  }
  return list != nullptr;
}

void AddPollEntries(std::vector<pollfd>& fds, const TSocketList* list, short events) {
  if (list == nullptr)
    return;
  for (TSocket socket : *list) {
    fds.push_back(pollfd{socket, events, 0});
  }
}

// Replaces the list by its ready sockets; returns how many were ready.
int TakeReady(TSocketList* list, const std::vector<pollfd>& fds, std::size_t& next,
              short ready_mask) {
  if (list == nullptr)
    return 0;
  TSocketList ready;
  for (std::size_t i = 0; i < list->size(); ++i, ++next) {
    if ((fds[next].revents & ready_mask) != 0) {
      ready.push_back(fds[next].fd);
    }
  }
  *list = std::move(ready);
  return static_cast<int>(list->size());
}

// poll(2) with a deadline that survives interruptions by signals.
int PollWithDeadline(std::vector<pollfd>& fds, int timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout < 0 ? 0 : timeout);
  for (;;) {
    int wait = -1;
    if (timeout != SelectNoLimit) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    const int result = ::poll(fds.data(), fds.size(), wait);
    if (result >= 0 || errno != EINTR) {
      return result;
    }
  }
}

}  // namespace

TSocket TSocketStack::CreateSocket(int type, int protocol) {
  const TSocket socket = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  if (socket < 0) {
    Fail();
    throw EInvalidSocket(RSCannotAllocateSocket);
  }
  return socket;
}

TSocket TSocketStack::SockAccept(TSocket listening, std::string& remote_ip, int& remote_port) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  TSocket socket;
  do {
    socket = ::accept4(listening, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  } while (socket < 0 && errno == EINTR);
  if (socket < 0) {
    return Fail();
  }
  // Replies go out in whole pieces, so Nagle only delays a piece behind the previous one's
  // acknowledgement (a module's body behind its head). Failing to set it costs only speed.
  const int no_delay = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof(no_delay));
  ReadAddress(address, remote_ip, remote_port);
  return socket;
}

int TSocketStack::SockBind(TSocket socket, int family, const std::string& ip, int port) {
  const sockaddr_in address = MakeAddress(family, ip, port);
  if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return Fail();
  }
  return 0;
}

int TSocketStack::SockConnect(TSocket socket, int family, const std::string& ip, int port) {
  const sockaddr_in address = MakeAddress(family, ip, port);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return Fail();
  }
  return 0;
}

int TSocketStack::SockSetNonBlocking(TSocket socket) {
  const int flags = ::fcntl(socket, F_GETFL);
  if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) {
    return Fail();
  }
  return 0;
}

int TSocketStack::SockListen(TSocket socket, int backlog) {
  return ::listen(socket, backlog) == 0 ? 0 : Fail();
}

int TSocketStack::SockRecv(TSocket socket, void* buffer, int length, int flags) {
  ssize_t count;
  do {
    count = ::recv(socket, buffer, static_cast<std::size_t>(length), flags);
  } while (count < 0 && errno == EINTR);
  return count < 0 ? Fail() : static_cast<int>(count);
}

int TSocketStack::SockSend(TSocket socket, const void* buffer, int length, int flags) {
  ssize_t count;
  do {
    count = ::send(socket, buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
  } while (count < 0 && errno == EINTR);
  return count < 0 ? Fail() : static_cast<int>(count);
}

int TSocketStack::SockRecvFrom(TSocket socket, void* buffer, int length, int flags, std::string& ip,
                               int& port) {
  sockaddr_in address{};
  socklen_t address_length = sizeof(address);
  const ssize_t count = ::recvfrom(socket, buffer, static_cast<std::size_t>(length), flags,
                                   reinterpret_cast<sockaddr*>(&address), &address_length);
  if (count < 0) {
    return Fail();
  }
  ReadAddress(address, ip, port);
  return static_cast<int>(count);
}

int TSocketStack::SockSendTo(TSocket socket, const void* buffer, int length, int flags,
                             const std::string& ip, int port) {
  const sockaddr_in address = MakeAddress(AF_INET, ip, port);
  const ssize_t count =
      ::sendto(socket, buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  return count < 0 ? Fail() : static_cast<int>(count);
}

int TSocketStack::SockSelect(TSocketList* read, TSocketList* write, TSocketList* error,
                             int timeout) {
  CheckListSize(read);
  CheckListSize(write);
  CheckListSize(error);
  std::vector<pollfd> fds;
  AddPollEntries(fds, read, POLLIN);
  AddPollEntries(fds, write, POLLOUT);
  AddPollEntries(fds, error, POLLPRI);
  const int result = PollWithDeadline(fds, timeout);
  if (result < 0) {
    return Fail();
  }
  for (const pollfd& entry : fds) {
    if ((entry.revents & POLLNVAL) != 0) {
      t_last_error = SockErrNotSocket;
      return SocketError;
    }
  }
  // The same readiness rules as select: errors and hang-ups count as readable and writable.
  std::size_t next = 0;
  int count = TakeReady(read, fds, next, POLLIN | POLLHUP | POLLERR);
  count += TakeReady(write, fds, next, POLLOUT | POLLHUP | POLLERR);
  count += TakeReady(error, fds, next, POLLPRI);
  return count;
}

int TSocketStack::SockSetOption(TSocket socket, int level, int name, const void* value,
                                int length) {
  return ::setsockopt(socket, level, name, value, static_cast<socklen_t>(length)) == 0 ? 0 : Fail();
}

int TSocketStack::SockGetOption(TSocket socket, int level, int name, void* value, int& length) {
  socklen_t size = static_cast<socklen_t>(length);
  if (::getsockopt(socket, level, name, value, &size) != 0) {
    return Fail();
  }
  length = static_cast<int>(size);
  return 0;
}

int TSocketStack::SockShutdown(TSocket socket, int how) {
  return ::shutdown(socket, how) == 0 ? 0 : Fail();
}

int TSocketStack::SockClose(TSocket socket) {
  return ::close(socket) == 0 ? 0 : Fail();
}

void TSocketStack::SockLocalName(TSocket socket, int& family, std::string& ip, int& port) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  const int result =
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? 0 : Fail();
  CheckSocketResult(result);
  family = address.sin_family;
  ReadAddress(address, ip, port);
}

void TSocketStack::SockRemoteName(TSocket socket, int& family, std::string& ip, int& port) {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  const int result =
      ::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 ? 0 : Fail();
  CheckSocketResult(result);
  family = address.sin_family;
  ReadAddress(address, ip, port);
}

int TSocketStack::SockLastError() const {
  return t_last_error;
}

std::uint16_t TSocketStack::HostToNetwork16(std::uint16_t value) {
  return htons(value);
}
std::uint16_t TSocketStack::NetworkToHost16(std::uint16_t value) {
  return ntohs(value);
}
std::uint32_t TSocketStack::HostToNetwork32(std::uint32_t value) {
  return htonl(value);
}
std::uint32_t TSocketStack::NetworkToHost32(std::uint32_t value) {
  return ntohl(value);
}

// Failures of getaddrinfo and friends are not errno values and are stored directly.
void SetSocketLastError(int code) {
  t_last_error = code;
}

int TSocketStack::SockSendFile(TSocket socket, int file, std::int64_t& offset, int length) {
  off_t position = static_cast<off_t>(offset);
  ssize_t count;
  do {
    count = ::sendfile(socket, file, &position, static_cast<std::size_t>(length));
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return Fail();
  }
  offset = static_cast<std::int64_t>(position);
  return static_cast<int>(count);
}

bool TSocketStack::SockPeerHungUp(TSocket socket) {
  pollfd watched{socket, POLLRDHUP, 0};
  int ready;
  do {
    ready = ::poll(&watched, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool TSocketStack::SockHasPendingData(TSocket socket) {
  char byte = 0;
  ssize_t peeked;
  do {
    peeked = ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  } while (peeked < 0 && errno == EINTR);
  return peeked > 0;
}

std::int64_t TSocketStack::TransmitFile(TSocket socket, const std::string& file_name) {
  const int file = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    return 0;
  }
  struct stat info {};
  std::int64_t result = 0;
  if (::fstat(file, &info) == 0) {
    TSigPipeGuard guard;
    off_t offset = 0;
    bool failed = false;
    while (offset < info.st_size && !failed) {
      const ssize_t sent =
          ::sendfile(socket, file, &offset, static_cast<std::size_t>(info.st_size - offset));
      failed = sent < 0 ? errno != EINTR : sent == 0;
      if (sent < 0 && failed) {
        Fail();
      }
    }
    result = failed ? 0 : static_cast<std::int64_t>(info.st_size);
  }
  ::close(file);
  return result;
}

}  // namespace quenby
