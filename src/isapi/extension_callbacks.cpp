#include "isapi/extension_callbacks.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/http_session.h"
#include "isapi/ecb.h"
#include "isapi/extension_headers.h"
#include "isapi/isapi_runner.h"
#include "isapi/module_trace.h"
#include "net/peer_thread.h"
#include "net/sigpipe_guard.h"
#include "net/socket_handle.h"
#include "net/tcp_connection.h"
#include "util/text.h"

namespace quenby {
namespace {

// The header block of HSE_REQ_SEND_RESPONSE_HEADER ends with an empty line whose CR LF
// the host takes off.
constexpr std::size_t HeaderBlockTail = 2;
/// Bytes of a file read and sent at a time where the kernel's file send cannot be used.
constexpr std::size_t FilePieceSize = 65536;

std::string TextAt(const void* pointer) {
  return pointer != nullptr ? std::string(static_cast<const char*>(pointer)) : std::string();
}

// The text at `pointer` up to its zero byte, cut to `limit` characters.
std::string TextAt(const char* pointer, DWORD limit) {
  if (pointer == nullptr)
    return {};
  return std::string(pointer, strnlen(pointer, limit));
}

TTCPConnection* ConnectionOf(const TECB& block) {
  return block.PeerThread != nullptr ? block.PeerThread->Connection() : nullptr;
}

// Sends the header block after the record has been updated: the first header request
// or redirect of a run goes to the client at once, later ones only update the record.
bool FinishHeaderRequest(TECB& block, std::string_view module_status, bool applied) {
  if (block.HeaderWritten())
    return applied;
  const bool sent = SendExtensionHeader(block, module_status);
  return applied && sent;
}

BOOL Redirect(TECB& block, LPVOID buffer) {
  if (buffer == nullptr)
    return FALSE;
  block.ResponseInfo->RedirectTo(TextAt(buffer));
  return FinishHeaderRequest(block, {}, true) ? TRUE : FALSE;
}

void ApplyStatusCode(TECB& block) {
  if (block.ModuleStatusCode() != 0)
    block.ResponseInfo->SetStatusCode(static_cast<int>(block.ModuleStatusCode()));
}

BOOL SendResponseHeader(TECB& block, LPVOID status, LPDWORD data_type) {
  ApplyStatusCode(block);
  std::string header = TextAt(data_type);
  header.resize(header.size() < HeaderBlockTail ? 0 : header.size() - HeaderBlockTail);
  const bool applied = ApplyExtensionHeaders(block, header);
  return FinishHeaderRequest(block, TextAt(status), applied) ? TRUE : FALSE;
}

BOOL SendResponseHeaderEx(TECB& block, LPVOID buffer) {
  if (buffer == nullptr)
    return FALSE;
  const auto& info = *static_cast<const HSE_SEND_HEADER_EX_INFO*>(buffer);
  ApplyStatusCode(block);
  const bool applied = ApplyExtensionHeaders(block, TextAt(info.pszHeader, info.cchHeader));
  const std::string status = TextAt(info.pszStatus, info.cchStatus);
  if (applied)
    block.ResponseInfo->StatusText = status;
  return FinishHeaderRequest(block, status, applied) ? TRUE : FALSE;
}

BOOL MapUrlToPath(TECB& block, LPVOID buffer, LPDWORD size) {
  if (buffer == nullptr || size == nullptr)
    return FALSE;
  const std::string path = CanonicalJoin(block.BaseDirectory, TextAt(buffer));
  const DWORD needed = static_cast<DWORD>(path.size() + 1);
  if (*size < needed) {
    *size = needed;
    errno = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  std::memcpy(buffer, path.c_str(), needed);
  *size = needed;
  return TRUE;
}

// lpszPath holds MAX_PATH bytes: a longer path is refused rather than cut or overrun.
BOOL MapUrlToPathEx(TECB& block, LPVOID buffer, LPDWORD data_type) {
  if (buffer == nullptr || data_type == nullptr)
    return FALSE;
  const std::string path = CanonicalJoin(block.BaseDirectory, TextAt(buffer));
  if (path.size() + 1 > MAX_PATH) {
    errno = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  auto& info = *reinterpret_cast<HSE_URL_MAPEX_INFO*>(data_type);
  std::memcpy(info.lpszPath, path.c_str(), path.size() + 1);
  return TRUE;
}

BOOL AppendLogParameter(TECB& block, LPVOID buffer) {
  if (block.Runner == nullptr || buffer == nullptr)
    return FALSE;
  if (block.Runner->OnLogServerMessage)
    block.Runner->OnLogServerMessage(*block.Runner, *block.RequestInfo, *block.ResponseInfo,
                                     TextAt(buffer));
  return TRUE;
}

// Sends `count` bytes (0: the rest of the file) from the descriptor's current position.
bool SendFileBytes(int socket, int file, DWORD count) {
  off_t remaining = count;
  if (count == 0) {
    struct stat status {};
    const off_t position = lseek(file, 0, SEEK_CUR);
    if (fstat(file, &status) != 0 || position < 0)
      return false;
    remaining = status.st_size > position ? status.st_size - position : 0;
  }
  // A client that has gone must fail the send, not kill the server with SIGPIPE.
  TSigPipeGuard guard;
  while (remaining > 0) {
    const ssize_t sent = sendfile(socket, file, nullptr, static_cast<std::size_t>(remaining));
    if (sent < 0 && errno == EINTR)
      continue;
    if (sent <= 0)
      return false;
    remaining -= sent;
  }
  return true;
}

// The same through the connection's I/O handler, read and written piece by piece, for a
// connection (TLS) whose bytes may not go to the socket as they are.
bool SendFilePieces(TTCPConnection& connection, int file, DWORD count) {
  std::string piece(FilePieceSize, '\0');
  std::size_t remaining = count;
  for (;;) {
    const std::size_t wanted = count == 0 ? piece.size() : std::min(piece.size(), remaining);
    if (wanted == 0)
      return true;
    const ssize_t got = read(file, piece.data(), wanted);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0 || (got == 0 && count != 0))
      return false;
    if (got == 0)
      return true;
    try {
      connection.WriteBytes(piece.data(), got, true);
    } catch (const std::exception&) {
      return false;  // the client left: a failed send, as with the kernel's file send
    }
    remaining -= static_cast<std::size_t>(got);
  }
}

// The file goes to the socket at once, ahead of the collected body; the reply therefore
// counts as started even if the send fails halfway.
BOOL TransmitFile(TECB& block, LPVOID buffer) {
  TTCPConnection* connection = ConnectionOf(block);
  TIOHandler* handler = connection != nullptr ? connection->IOHandler() : nullptr;
  TSocketHandle* binding = connection != nullptr ? connection->SocketBinding() : nullptr;
  if (buffer == nullptr || handler == nullptr ||
      (handler->NativeSendAllowed() && binding == nullptr))
    return FALSE;
  const auto& info = *static_cast<const HSE_TF_INFO*>(buffer);
  if (connection->WriteBuffering())
    connection->FlushWriteBuffering();
  block.MarkFileSent();
  // Its bytes are not counted against an announced length: the close ends the reply.
  if (block.ResponseInfo->FramedReply)
    block.ResponseInfo->SetCloseAfterReply(true);
  const int file = HSE_FD_FROM_HANDLE(info.hFile);
  const bool sent = handler->NativeSendAllowed()
                        ? SendFileBytes(binding->SocketHandle(), file, info.BytesToWrite)
                        : SendFilePieces(*connection, file, info.BytesToWrite);
  return sent ? TRUE : FALSE;
}

BOOL AbortiveClose(TECB& block) {
  TTCPConnection* connection = ConnectionOf(block);
  if (connection == nullptr)
    return FALSE;
  connection->DropSocket();
  return TRUE;
}

BOOL ExtensionTrigger(TECB& block, LPVOID buffer) {
  THTTPSession* session = block.RequestInfo->CurrentSession;
  if (session != nullptr && buffer != nullptr) {
    std::vector<std::string> lines = TextToLines(TextAt(buffer));
    std::lock_guard<std::mutex> guard(session->SessionLock);
    session->SessionValues = std::move(lines);
  }
  return TRUE;
}

BOOL Dispatch(TECB& block, DWORD request, LPVOID buffer, LPDWORD size, LPDWORD data_type) {
  switch (request) {
    case HSE_REQ_SEND_URL_REDIRECT_RESP:
    case HSE_REQ_SEND_URL:
      return Redirect(block, buffer);
    case HSE_REQ_SEND_RESPONSE_HEADER:
      return SendResponseHeader(block, buffer, data_type);
    case HSE_REQ_DONE_WITH_SESSION:
      block.SignalDone();
      return TRUE;
    case HSE_REQ_MAP_URL_TO_PATH:
      return MapUrlToPath(block, buffer, size);
    case HSE_APPEND_LOG_PARAMETER:
      return AppendLogParameter(block, buffer);
    case HSE_REQ_TRANSMIT_FILE:
      return TransmitFile(block, buffer);
    case HSE_REQ_IS_KEEP_CONN:
      return TRUE;
    case HSE_REQ_MAP_URL_TO_PATH_EX:
      return MapUrlToPathEx(block, buffer, data_type);
    case HSE_REQ_ABORTIVE_CLOSE:
      return AbortiveClose(block);
    case HSE_REQ_SEND_RESPONSE_HEADER_EX:
      return SendResponseHeaderEx(block, buffer);
    case HSE_REQ_EXTENSION_TRIGGER:
      return ExtensionTrigger(block, buffer);
    default:
      return FALSE;
  }
}

// WriteClient's work: the bytes join the reply's body, which the engine sends at the end.
BOOL CollectBody(TECB& block, LPVOID buffer, LPDWORD bytes) {
  if (*bytes == 0)
    return TRUE;
  if (buffer == nullptr) {
    *bytes = 0;
    return FALSE;
  }
  try {
    block.ResponseInfo->BodyText.append(static_cast<const char*>(buffer), *bytes);
    return TRUE;
  } catch (...) {
    *bytes = 0;
    return FALSE;
  }
}

// ReadClient's work: up to `*size` bytes of the request body still on the connection.
BOOL ReadBody(TECB& block, LPVOID buffer, LPDWORD size) {
  TTCPConnection* connection = ConnectionOf(block);
  if (connection == nullptr || (buffer == nullptr && *size > 0)) {
    *size = 0;
    return FALSE;
  }
  try {
    connection->ReadBytes(buffer, *size);
    return TRUE;
  } catch (...) {
    *size = 0;
    return FALSE;
  }
}

}  // namespace

BOOL WINAPI WriteClient(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD /*dwReserved*/) {
  TECBAccess block(ConnID);
  if (!block || lpdwBytes == nullptr)
    return FALSE;
  const DWORD offered = *lpdwBytes;
  return TracedCallback(
      *block, [&] { return CollectBody(*block, Buffer, lpdwBytes); },
      [&](BOOL result, int error) {
        return "WriteClient " + std::to_string(offered) + " bytes" + TracedResult(result, error);
      });
}

BOOL WINAPI ReadClient(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize) {
  TECBAccess block(ConnID);
  if (!block || lpdwSize == nullptr)
    return FALSE;
  const DWORD asked = *lpdwSize;
  return TracedCallback(
      *block, [&] { return ReadBody(*block, lpvBuffer, lpdwSize); },
      [&](BOOL result, int error) {
        return "ReadClient " + std::to_string(asked) + " bytes asked" +
               TracedResult(result, error) + ", " + std::to_string(*lpdwSize) + " read";
      });
}

BOOL WINAPI ServerSupportFunction(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer,
                                  LPDWORD lpdwSize, LPDWORD lpdwDataType) {
  TECBAccess block(hConn);
  if (!block)
    return FALSE;
  const auto dispatch = [&]() -> BOOL {
    try {
      return Dispatch(*block, dwHSERequest, lpvBuffer, lpdwSize, lpdwDataType);
    } catch (...) {
      return FALSE;
    }
  };
  return TracedCallback(*block, dispatch, [&](BOOL result, int error) {
    return "ServerSupportFunction " + SupportRequestName(dwHSERequest) +
           TracedResult(result, error);
  });
}

}  // namespace quenby
