#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "net/net_exceptions.h"

namespace quenby {

/// An operating-system socket descriptor.
using TSocket = int;
constexpr TSocket InvalidSocket = -1;
/// What a failed socket call returns.
constexpr int SocketError = -1;
/// Sockets one select list may hold (the classic select-set size, kept on every platform).
constexpr int MaxSocketListSize = 64;
/// Select timeout meaning "wait without limit".
constexpr int SelectNoLimit = -2;
/// Length of the buffer the local host name is read into.
constexpr int LocalHostNameLength = 250;

/// Socket error codes the transport tests. Platform errors are translated to this numbering
/// (10000 + the BSD errno meaning) so that codes and messages read the same everywhere.
constexpr int SockErrInterrupted = 10004;
constexpr int SockErrTooManyFiles = 10024;
constexpr int SockErrWouldBlock = 10035;
constexpr int SockErrNotSocket = 10038;
constexpr int SockErrAddressInUse = 10048;
constexpr int SockErrConnAborted = 10053;
constexpr int SockErrConnReset = 10054;
constexpr int SockErrNoBufferSpace = 10055;
constexpr int SockErrShutdown = 10058;
constexpr int SockErrHostNotFound = 11001;

/// A list of sockets for SockSelect; at most MaxSocketListSize entries are accepted.
using TSocketList = std::vector<TSocket>;

/// The one place where the transport touches the operating system's sockets. A single
/// instance, SocketStack(), serves every thread; its operations take caller-owned handles
/// and need no lock. Calls that return SocketError leave a translated code for
/// SockLastError on the calling thread.
class TSocketStack {
 public:
  TSocketStack() = default;
  TSocketStack(const TSocketStack&) = delete;
  TSocketStack& operator=(const TSocketStack&) = delete;

  /// Code of the latest failure tested by CheckSocketResult (from any thread).
  int LastError() const { return last_error_.load(); }

  /// A close-on-exec IPv4 socket. Raises EInvalidSocket "Cannot allocate socket.".
  TSocket CreateSocket(int type, int protocol);
  /// False when `result` is not SocketError. Otherwise stores the code in LastError and
  /// returns true when it is tolerated, else raises ESocketError.
  bool CheckSocketResult(int result, std::initializer_list<int> tolerated = {});
  /// Raises ESocketError(code, SocketErrorText(code)).
  [[noreturn]] void ReportSocketError(int code);
  /// "Socket Error # %d\r\n%s" with the table's text, empty for unknown codes.
  static std::string SocketErrorText(int code);
  /// Translates a POSIX errno value to this numbering; unknown values pass unchanged.
  static int TranslateErrno(int error);

  /// Accepts one connection; fills the remote address. Returns the socket or SocketError.
  TSocket SockAccept(TSocket listening, std::string& remote_ip, int& remote_port);
  /// Binds to `ip` (empty = any) and `port`. Raises EInvalidIPAddress for a text that is not
  /// an address and EInvalidPortRange for a port outside 0..65535 (never truncated).
  int SockBind(TSocket socket, int family, const std::string& ip, int port);
  int SockConnect(TSocket socket, int family, const std::string& ip, int port);
  int SockListen(TSocket socket, int backlog);
  /// One receive; the count, 0 at the peer's close, or SocketError.
  int SockRecv(TSocket socket, void* buffer, int length, int flags);
  /// One send; never raises SIGPIPE (a closed peer gives SocketError with 10054).
  int SockSend(TSocket socket, const void* buffer, int length, int flags);
  int SockRecvFrom(TSocket socket, void* buffer, int length, int flags, std::string& ip, int& port);
  int SockSendTo(TSocket socket, const void* buffer, int length, int flags, const std::string& ip,
                 int port);
  /// Waits until a listed socket is ready or `timeout` ms pass (SelectNoLimit = no limit);
  /// each given list is replaced by its ready sockets. Returns the ready count, 0 on
  /// timeout, SocketError on failure. Raises EStackSetSizeExceeded for a list of more than
  /// MaxSocketListSize sockets, before waiting.
  int SockSelect(TSocketList* read, TSocketList* write, TSocketList* error, int timeout);
  int SockSetOption(TSocket socket, int level, int name, const void* value, int length);
  /// Makes calls on the socket return SockErrWouldBlock instead of waiting.
  int SockSetNonBlocking(TSocket socket);
  int SockGetOption(TSocket socket, int level, int name, void* value, int& length);
  int SockShutdown(TSocket socket, int how);
  int SockClose(TSocket socket);
  /// Local (remote) address of a socket; a failure raises ESocketError.
  void SockLocalName(TSocket socket, int& family, std::string& ip, int& port);
  void SockRemoteName(TSocket socket, int& family, std::string& ip, int& port);
  /// Translated code of the calling thread's latest failed stack call.
  int SockLastError() const;

  /// First IPv4 address of a host; a failure raises ESocketError (11001 "Host not found.").
  std::string HostByName(const std::string& name);
  /// Name of an IPv4 address; a failure raises ESocketError.
  std::string HostByAddress(const std::string& ip);
  std::string LocalHostName();
  /// The machine's own IPv4 addresses, listed afresh: addresses of the interfaces that are
  /// up and not loopback first (in interface order), then those the host name resolves to.
  /// Raises ESocketError when nothing is found and the host name cannot be resolved.
  std::vector<std::string> LocalAddressList();
  /// Item 0 of LocalAddressList; raises ENetException when the list is empty.
  std::string FirstLocalAddress();
  /// "LOCALHOST" (any case) gives "127.0.0.1", an address text itself, else HostByName.
  std::string ResolveHostToIP(const std::string& host);
  /// Port of a service name from the service database, else the name read as a number;
  /// raises EInvalidServiceName "%s is not a valid service.".
  int ServicePort(const std::string& service);
  /// Names the service database gives a port.
  std::vector<std::string> PortServiceNames(int port);

  static bool IsIPv4Address(const std::string& text);
  /// The address in network byte order; raises EInvalidIPAddress "%s is not a valid IP
  /// address.".
  static std::uint32_t AddressToNumber(const std::string& text);
  /// The four bytes (network order, as stored in memory) in dotted decimal form.
  static std::string AddressToText(std::uint32_t network_order_address);

  static std::uint16_t HostToNetwork16(std::uint16_t value);
  static std::uint16_t NetworkToHost16(std::uint16_t value);
  static std::uint32_t HostToNetwork32(std::uint32_t value);
  static std::uint32_t NetworkToHost32(std::uint32_t value);

  /// Sends a whole file on a connected socket with the kernel's file transmission. Returns
  /// the file size on success, 0 on any failure. Never raises SIGPIPE.
  std::int64_t TransmitFile(TSocket socket, const std::string& file_name);
  /// One kernel file send of up to `length` bytes of `file` from `offset`, which it
  /// advances; the count sent, or SocketError with the last error set. The caller keeps
  /// SIGPIPE off the thread (TSigPipeGuard).
  int SockSendFile(TSocket socket, int file, std::int64_t& offset, int length);
  /// Whether the peer of a connected socket ended its sending side or reset the
  /// connection; never waits and consumes nothing.
  bool SockPeerHungUp(TSocket socket);
  /// Whether received bytes wait to be read on a connected socket (the peer's close is not
  /// such a byte); never waits and consumes nothing.
  bool SockHasPendingData(TSocket socket);

 private:
  std::atomic<int> last_error_{0};
  std::mutex local_addresses_lock_;  // the list is refilled on every request
  std::vector<std::string> local_addresses_;
};

/// Records `code` as the calling thread's SockLastError. For I/O handlers that are not plain
/// sockets, so that their failed calls report a code the way socket calls do.
void SetSocketLastError(int code);

/// The process-wide stack. Valid while at least one TSocketStackLease (every transport
/// component holds one) exists; raises ENetException otherwise.
TSocketStack& SocketStack();
/// Whether the process-wide stack currently exists.
bool SocketStackExists();

/// Keeps the process-wide stack alive: the first lease creates it, the last frees it.
/// Any thread may create and destroy leases.
class TSocketStackLease {
 public:
  TSocketStackLease();
  ~TSocketStackLease();
  TSocketStackLease(const TSocketStackLease&) : TSocketStackLease() {}
  TSocketStackLease& operator=(const TSocketStackLease&) { return *this; }
};

}  // namespace quenby
