#pragma once

#include <string>

#include "net/net_exception.h"

namespace quenby {

/// A failed socket call. Carries the socket error code (the numbering of the error table in
/// socket_stack.h, 10000 and up) and the message "Socket Error # %d\r\n%s".
class ESocketError : public ENetException {
 public:
  ESocketError(int last_error, std::string message)
      : ENetException(std::move(message)), last_error_(last_error) {}
  const char* ClassName() const noexcept override { return "ESocketError"; }
  int LastError() const noexcept { return last_error_; }

 private:
  int last_error_;
};

// Socket stack.
QUENBY_DECLARE_EXCEPTION(EInvalidSocket, ENetException);
QUENBY_DECLARE_EXCEPTION(EInvalidIPAddress, ENetException);
QUENBY_DECLARE_EXCEPTION(EInvalidServiceName, ENetException);
QUENBY_DECLARE_EXCEPTION(EStackSetSizeExceeded, ENetException);

// Connection I/O.
QUENBY_DECLARE_EXCEPTION(EConnClosedGracefully, ESilentException);
// No code path raises it yet; the peer thread and the engine already treat it as the end of a
// connection, so a handler may raise it to end one.
QUENBY_DECLARE_EXCEPTION(EClosedSocket, ENetException);
QUENBY_DECLARE_EXCEPTION(EReadTimeout, ENetException);
QUENBY_DECLARE_EXCEPTION(ENotConnected, ENetException);
QUENBY_DECLARE_EXCEPTION(EReadLnMaxLineLengthExceeded, ENetException);
QUENBY_DECLARE_EXCEPTION(ENotEnoughDataInBuffer, ENetException);
QUENBY_DECLARE_EXCEPTION(ENoDataToRead, ENetException);
QUENBY_DECLARE_EXCEPTION(EFileNotFound, ENetException);
// Kept for module and caller code that catches it by name; nothing in the tree raises it.
QUENBY_DECLARE_EXCEPTION(EObjectTypeNotSupported, ENetException);

// Threads and thread manager.
QUENBY_DECLARE_EXCEPTION(EThreadClassNotSpecified, ENetException);
QUENBY_DECLARE_EXCEPTION(EThreadTerminateAndWaitFor, ENetException);
QUENBY_DECLARE_EXCEPTION(ETCPServerError, ENetException);
QUENBY_DECLARE_EXCEPTION(ENoExecuteSpecified, ETCPServerError);

// Listener and bindings.
QUENBY_DECLARE_EXCEPTION(ECouldNotBindSocket, ENetException);
QUENBY_DECLARE_EXCEPTION(EInvalidPortRange, ENetException);
QUENBY_DECLARE_EXCEPTION(ECanNotBindPortInRange, ENetException);
QUENBY_DECLARE_EXCEPTION(ETerminateThreadTimeout, ENetException);

// Fixed messages, one home each.
inline constexpr const char* RSConnectionClosedGracefully = "Connection Closed Gracefully.";
inline constexpr const char* RSReadTimeout = "Read Timeout";
inline constexpr const char* RSNotConnected = "Not Connected";
inline constexpr const char* RSMaxLineLengthExceeded = "Max line length exceeded.";
inline constexpr const char* RSNotEnoughDataInBuffer = "Not enough data in buffer.";
inline constexpr const char* RSNoDataToRead = "No data to read.";
inline constexpr const char* RSFileNotFound = "File \"%s\" not found";
inline constexpr const char* RSObjectTypeNotSupported = "Object type not supported.";
inline constexpr const char* RSCannotAllocateSocket = "Cannot allocate socket.";
inline constexpr const char* RSInvalidIPAddress = "%s is not a valid IP address.";
inline constexpr const char* RSInvalidServiceName = "%s is not a valid service.";
inline constexpr const char* RSSetSizeExceeded = "Set Size Exceeded.";
inline constexpr const char* RSSocketErrorFormat = "Socket Error # %d\r\n%s";
inline constexpr const char* RSThreadClassNotSpecified = "Thread Class Not Specified.";
inline constexpr const char* RSThreadTerminateAndWaitFor =
    "Cannot call TerminateAndWaitFor on FreeAndTerminate threads";
inline constexpr const char* RSNoExecuteSpecified = "No execute handler found.";
inline constexpr const char* RSCouldNotBindSocket =
    "Could not bind socket. Address and port are already in use.";
inline constexpr const char* RSInvalidPortRange = "Invalid Port Range (%d - %d)";
inline constexpr const char* RSCanNotBindRange = "Can not bind in port range (%d - %d)";
inline constexpr const char* RSTerminateThreadTimeout = "Terminate Thread Timeout";

}  // namespace quenby
