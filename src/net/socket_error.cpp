// Socket error codes and their texts: one table, the errno translation derived from the
// same BSD numbering.
#include <cerrno>
#include <utility>

#include "net/socket_stack.h"
#include "util/text.h"

namespace quenby {

namespace {

struct ErrorEntry {
  int code;
  const char* text;
};

constexpr ErrorEntry ErrorTable[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

constexpr int BSDErrorBase = 10000;

// Linux errno values and the BSD errno value of the same meaning.
constexpr std::pair<int, int> ErrnoToBSD[] = {
    {EINTR, 4},         {EBADF, 38},           {EACCES, 13},
    {EPERM, 13},        {EFAULT, 14},          {EINVAL, 22},
    {EMFILE, 24},       {ENFILE, 24},          {EAGAIN, 35},
    {EINPROGRESS, 36},  {EALREADY, 37},        {ENOTSOCK, 38},
    {EDESTADDRREQ, 39}, {EMSGSIZE, 40},        {EPROTOTYPE, 41},
    {ENOPROTOOPT, 42},  {EPROTONOSUPPORT, 43}, {ESOCKTNOSUPPORT, 44},
    {EOPNOTSUPP, 45},   {EPFNOSUPPORT, 46},    {EAFNOSUPPORT, 47},
    {EADDRINUSE, 48},   {EADDRNOTAVAIL, 49},   {ENETDOWN, 50},
    {ENETUNREACH, 51},  {ENETRESET, 52},       {ECONNABORTED, 53},
    {ECONNRESET, 54},   {EPIPE, 54},           {ENOBUFS, 55},
    {ENOMEM, 55},       {EISCONN, 56},         {ENOTCONN, 57},
    {ESHUTDOWN, 58},    {ETOOMANYREFS, 59},    {ETIMEDOUT, 60},
    {ECONNREFUSED, 61}, {ELOOP, 62},           {ENAMETOOLONG, 63},
    {EHOSTDOWN, 64},    {EHOSTUNREACH, 65},    {ENOTEMPTY, 66},
};

}  // namespace

int TSocketStack::TranslateErrno(int error) {
  for (const auto& [posix, bsd] : ErrnoToBSD) {
    if (posix == error) {
      return BSDErrorBase + bsd;
    }
  }
  return error;
}

std::string TSocketStack::SocketErrorText(int code) {
  const char* text = "";
  for (const auto& entry : ErrorTable) {
    if (entry.code == code) {
      text = entry.text;
      break;
    }
  }
  return Format(RSSocketErrorFormat, code, text);
}

bool TSocketStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
  if (result != SocketError) {
    return false;
  }
  const int code = SockLastError();
  last_error_.store(code);
  for (int allowed : tolerated) {
    if (allowed == code) {
      return true;
    }
  }
  ReportSocketError(code);
}

void TSocketStack::ReportSocketError(int code) {
  throw ESocketError(code, SocketErrorText(code));
}

}  // namespace quenby
