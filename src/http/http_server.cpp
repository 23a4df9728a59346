#include "http/http_server.h"

#include <chrono>
#include <climits>
#include <thread>

#include "http/http_exceptions.h"
#include "http/request_framing.h"
#include "http/request_reader.h"
#include "http/status_text.h"
#include "net/net_exceptions.h"
#include "net/socket_stack.h"
#include "util/scope_guard.h"
#include "util/text.h"

namespace quenby {
namespace {

constexpr const char* KeepAliveValue = "Keep-alive";
constexpr const char* PostMethod = "POST";
constexpr const char* HeadMethod = "HEAD";
/// Poll step of the destructor's last wait for peer threads that outlived the timeout.
constexpr auto LatePeerPollStep = std::chrono::milliseconds(10);

bool AnswersThroughCommandGet(const std::string& method) {
  return method == "GET" || method == "POST" || method == "HEAD";
}

std::string PeerAddress(TTCPConnection& connection) {
  const TSocketHandle* binding = connection.SocketBinding();
  return binding == nullptr ? std::string() : binding->RemoteIP;
}

/// Bytes a reply collects before they are sent, so that memory stays bounded for big bodies.
constexpr int ReplyFlushThreshold = 65536;

// Collects a reply's header block and body so that a small reply leaves in one send. Sent
// apart, the small body would wait behind Nagle's algorithm for the client's delayed
// acknowledgement of the header, holding every keep-alive reply back by tens of ms.
class TReplyBuffering {
 public:
  explicit TReplyBuffering(TTCPConnection& connection)
      : connection_(connection), owner_(!connection.WriteBuffering()) {
    if (owner_)
      connection_.BeginWriteBuffering(ReplyFlushThreshold);
  }
  // A reply that failed half-way is not sent in part.
  ~TReplyBuffering() {
    if (!owner_ || !connection_.WriteBuffering())
      return;
    connection_.DiscardWriteBuffering();
    try {
      connection_.EndWriteBuffering();
    } catch (...) {
    }
  }
  TReplyBuffering(const TReplyBuffering&) = delete;
  TReplyBuffering& operator=(const TReplyBuffering&) = delete;
  /// Sends what was collected and ends the collecting.
  void Finish() {
    if (owner_)
      connection_.EndWriteBuffering();
  }

 private:
  TTCPConnection& connection_;
  const bool owner_;
};

/// ms a connection may stay open after its last reply while unread input is drained.
constexpr auto LingerTime = std::chrono::milliseconds(5000);

// Closing a socket with received bytes unread (requests a client pipelined behind the last
// reply) resets the connection, and a reset throws away whatever of the reply is still on
// its way. So the sending side ends first, after the reply, and what the client still sends
// is read and dropped until it closes, for LingerTime at most.
void DrainUnreadInput(TTCPConnection& connection) noexcept {
  try {
    // Only unread bytes turn the close into a reset; the peer's own close alone does not.
    if (!connection.HasUnreadData() || !connection.EndSending())
      return;
    const auto deadline = std::chrono::steady_clock::now() + LingerTime;
    for (;;) {
      connection.InputBuffer().Clear();
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 ||
          connection.FillInputBuffer(false, static_cast<int>(left.count()), false) <= 0)
        return;
    }
  } catch (...) {
    // A failed read ends the draining: the close follows all the same.
  }
}

// Leaving the loop always closes the connection; a close that fails changes nothing then.
void DisconnectQuietly(TTCPConnection& connection) noexcept {
  try {
    connection.Disconnect();
  } catch (...) {
  }
}

}  // namespace

TCustomHTTPServer::TCustomHTTPServer()
    : mime_types_(std::make_unique<TMimeTable>(true)),
      session_list_(std::make_unique<THTTPDefaultSessionList>()) {
  SetDefaultPort(DefaultHTTPPort);
}

TCustomHTTPServer::~TCustomHTTPServer() {
  try {
    SetActive(false);
  } catch (...) {
    // Peer threads outlived TerminateWaitTime: they are waited for below.
  }
  WaitForPeerThreadsToLeave();
  StopSessionCleaner();
  session_list_->ClearSessions();
}

void TCustomHTTPServer::SetSessionState(bool value) {
  if (Active())
    throw EHTTPCannotSwitchSessionStateWhenActive(
        "Cannot change session state when the server is active.");
  session_state_ = value;
}

void TCustomHTTPServer::SetActive(bool value) {
  if (value && StopUnfinished())
    SetActive(false);  // see TTCPServer::SetActive
  if (value == Active())
    return;
  if (value) {
    if (SessionTimeOut != 0)
      session_list_->SessionTimeout = SessionTimeOut;
    else
      session_state_ = false;
    session_list_->OnSessionStart = OnSessionStart;
    session_list_->OnSessionEnd = OnSessionEnd;
    if (session_state_) {
      session_cleaner_ = std::make_unique<THTTPSessionCleanerThread>(*session_list_);
      session_cleaner_->Start();
    }
    try {
      TTCPServer::SetActive(true);
    } catch (...) {
      StopSessionCleaner();
      throw;
    }
    return;
  }
  // Peer threads end first: a handler still running could otherwise hold a session that
  // the clear below frees.
  TTCPServer::SetActive(false);
  StopSessionCleaner();
  session_list_->ClearSessions();
}

void TCustomHTTPServer::StopSessionCleaner() {
  if (session_cleaner_ == nullptr)
    return;
  session_cleaner_->Terminate();
  session_cleaner_->WaitFor();
  session_cleaner_.reset();
}

void TCustomHTTPServer::WaitForPeerThreadsToLeave() {
  while (PeerThreadCount() > 0) {
    ForEachPeerThread([](TPeerThread& thread) { thread.Connection()->DropSocket(); });
    std::this_thread::sleep_for(LatePeerPollStep);
  }
}

bool TCustomHTTPServer::ExecuteHook(TPeerThread& thread) {
  TTCPConnection& connection = *thread.Connection();
  connection.MaxReadWait = StallTimeOut;
  try {
    // A client sends its request as soon as it is connected: most often it is there already,
    // and reading it at once saves a wait for it.
    connection.ReceiveArrived();
    bool close = !KeepAlive;
    bool first = true;
    while (ServeRequest(thread, connection, close, first) && !close)
      first = false;
  } catch (const ESocketError& e) {
    DisconnectQuietly(connection);
    if (e.LastError() != SockErrConnReset)
      throw;
    return true;
  } catch (const EClosedSocket&) {
    DisconnectQuietly(connection);
    return true;
  } catch (...) {
    DisconnectQuietly(connection);
    throw;
  }
  DrainUnreadInput(connection);
  DisconnectQuietly(connection);
  return true;
}

bool TCustomHTTPServer::ServeRequest(TPeerThread& thread, TTCPConnection& connection, bool& close,
                                     bool first) {
  if (!first && Framed() && !AwaitNextRequest(connection))
    return false;
  TScopeGuard head_read([&connection] { connection.ClearReadDeadline(); });
  if (HeadTimeOut > 0)
    connection.SetReadDeadline(std::chrono::steady_clock::now() +
                               std::chrono::milliseconds(HeadTimeOut));
  const std::string line = connection.ReadLine();
  TRequestLine parts;
  if (!SplitRequestLine(line, parts))
    return false;
  if (!ReachesCommandGet(parts.Method) || !OnCommandGet) {
    NotifyCommandOther(thread, parts.Method, parts.Target, parts.Version);
    // Nothing of it was read past its request line: the rest must not pass as a request.
    if (Framed())
      close = true;
    return true;
  }
  // Declared in this order so that the reply is freed before the request.
  THTTPRequestInfo request;
  request.RequestLine = line;
  request.ClientAddress = PeerAddress(connection);
  request.Method = parts.Method;
  ReadHead(connection, request);
  request.HTTPVersion = parts.Version;

  THTTPResponseInfo response(&connection);
  if (RefusedForFraming(thread, request, response)) {
    close = true;
    return true;
  }
  ReadBody(thread, connection, request, !response.CloseAfterReply());
  SplitRequestTarget(request, parts.Target, ParseParams);
  const bool continue_processing = LookUpSession(thread, request, response);
  if (!Trim(ServerSoftware).empty())
    response.Server = ServerSoftware;
  AnswerRequest(thread, request, response, continue_processing);
  close = response.CloseAfterReply();
  return true;
}

bool TCustomHTTPServer::AwaitNextRequest(TTCPConnection& connection) const {
  if (connection.InputBuffer().Size() > 0)
    return true;  // pipelined behind the last request
  // The client on this machine often needs the processor to send its next request: given it
  // once, the request is mostly there, without a sleep and a wake of this thread.
  std::this_thread::yield();
  if (connection.ReceiveArrived())
    return true;
  return connection.AwaitInput(KeepAliveIdleTime) > 0;
}

bool TCustomHTTPServer::RefusedForFraming(TPeerThread& thread, THTTPRequestInfo& request,
                                          THTTPResponseInfo& response) {
  if (!Framed()) {
    response.SetCloseAfterReply(!KeepAlive || !SameText(request.Connection, KeepAliveValue));
    return false;
  }
  response.FramedReply = true;
  response.SetCloseAfterReply(!KeepsConnection(request.HTTPVersion, request.Connection));
  const int refusal = RequestFramingFault(request.Headers);
  if (refusal == 0)
    return false;
  // Its body is left unread: the close (after draining) ends it.
  response.SetStatusCode(refusal);
  response.SetCloseAfterReply(true);
  response.BodyText = "<HTML><BODY><B>" + std::to_string(refusal) + " " + response.StatusText +
                      "</B></BODY></HTML>";
  if (!Trim(ServerSoftware).empty())
    response.Server = ServerSoftware;
  AnswerRequest(thread, request, response, false);
  return true;
}

bool TCustomHTTPServer::ReachesCommandGet(const std::string& method) const {
  if (AnswersThroughCommandGet(method))
    return true;
  // The method travels on into the log and to modules: only a clean token goes there.
  return AllMethodsToCommandGet && IsMethodToken(method);
}

void TCustomHTTPServer::ReadHead(TTCPConnection& connection, THTTPRequestInfo& request) {
  ReadHeaderLines(connection, request.Headers);
  connection.ClearReadDeadline();  // the head is whole: the body is bounded by StallTimeOut
  request.ParseHeaders();
}

void TCustomHTTPServer::ReadBody(TPeerThread& thread, TTCPConnection& connection,
                                 THTTPRequestInfo& request, bool keep) {
  std::unique_ptr<TStream> supplied;
  NotifyCreatePostStream(thread, supplied);
  // A handler's stream belongs to the request from the start, so it is freed with the
  // record also when reading fails.
  TMemoryStream own_stream;
  TStream* stream = &own_stream;
  if (supplied != nullptr) {
    request.PostedStream = std::move(supplied);
    stream = request.PostedStream.get();
  }
  // On a framed kept connection a body without a length is empty; the next bytes are the
  // next request.
  const bool to_close = !(keep && Framed());
  if (request.ContentLength() > 0)
    ReadBodyBytes(connection, *stream, request.ContentLength());
  else if (request.Method == PostMethod && !request.ContentLengthKnown && to_close)
    connection.ReadToStream(*stream, -1, true);
  if (const auto* text = dynamic_cast<const TMemoryStream*>(stream)) {
    request.PostedText = text->DataString();
    request.ParamText = request.PostedText;
  }
}

bool TCustomHTTPServer::LookUpSession(TPeerThread& thread, THTTPRequestInfo& request,
                                      THTTPResponseInfo& response) {
  bool continue_processing = true;
  THTTPSession* session = nullptr;
  if (SessionState()) {
    const TServerCookies& cookies = request.ServerCookies;
    for (int i = cookies.GetCookieIndex(0, SessionCookieName); i >= 0 && session == nullptr;
         i = cookies.GetCookieIndex(i + 1, SessionCookieName)) {
      const std::string key = cookies[i].CookieValue;
      session = session_list_->FindSession(key, request.ClientAddress);
      if (session == nullptr)
        NotifyInvalidSession(thread, request, response, continue_processing, key);
    }
    if (session == nullptr && AutoStartSession && continue_processing)
      session = BeginSession(thread, response, request);
  }
  request.CurrentSession = session;
  response.CurrentSession = session;
  return continue_processing;
}

void TCustomHTTPServer::AnswerRequest(TPeerThread& thread, THTTPRequestInfo& request,
                                      THTTPResponseInfo& response, bool continue_processing) {
  if (continue_processing) {
    try {
      NotifyCommandGet(thread, request, response);
    } catch (const ESocketError&) {
      throw;
    } catch (const EConnClosedGracefully&) {
      throw;  // the client is gone: there is no one to answer
    } catch (const EClosedSocket&) {
      throw;
    } catch (const std::exception& e) {
      // Once the header is out the client holds (part of) a reply: an error text appended
      // to it would corrupt it. The failure then ends the connection instead, and the peer
      // thread reports it through OnException.
      if (response.HeaderSent)
        throw;
      response.SetStatusCode(StatusInternalServerError);
      response.BodyText = e.what();
      // The message is the whole body: a length or stream the handler set before it failed
      // would announce or send something else.
      response.SetContentLength(-1);
      response.ReleaseBodyStream();
    }
  }
  TTCPConnection& connection = *response.ClientConnection;
  TReplyBuffering buffering(connection);
  const bool engine_header = !response.HeaderSent;
  if (engine_header)
    response.SendHeader();
  // A framed HEAD reply is its header alone; the body a handler left stays unsent.
  const bool header_only = response.FramedReply && engine_header && request.Method == HeadMethod;
  if (!header_only && (!response.BodyText.empty() || response.BodyStream() != nullptr))
    response.SendBody();
  // The last bytes of a reply that the close ends wait for the close, so that they travel
  // in one segment with it: a client reading to the close (a module's reply) wakes once.
  TScopeGuard send_at_once([&connection] { connection.SetMoreFollows(false); });
  connection.SetMoreFollows(response.CloseAfterReply());
  buffering.Finish();
}

THTTPSession* TCustomHTTPServer::BeginSession(TPeerThread& thread, THTTPResponseInfo& response,
                                              THTTPRequestInfo& request) {
  if (!SessionState())
    return nullptr;
  std::unique_ptr<THTTPSession> supplied;
  NotifyCreateSession(thread, supplied);
  THTTPSession& session = supplied != nullptr ? session_list_->InsertSession(std::move(supplied))
                                              : session_list_->StartSession(request.ClientAddress);
  TCookieRFC2109& cookie = response.ServerCookies.Add();
  cookie.CookieName = SessionCookieName;
  cookie.CookieValue = session.SessionKey;
  cookie.CookiePath = "/";
  cookie.MaxAge = -1;
  request.CurrentSession = &session;
  response.CurrentSession = &session;
  return &session;
}

// A template, not a std::function: the writer's captures would cost an allocation per reply.
template <typename TWriteBody>
std::int64_t TCustomHTTPServer::SendSizedReply(TPeerThread& thread, THTTPResponseInfo& response,
                                               std::int64_t count, const TWriteBody& write_body) {
  if (CanAnnounceLength(count)) {
    response.SetContentLength(static_cast<std::int32_t>(count));
  } else {
    response.SetContentLength(-1);
    response.SetCloseAfterReply(true);  // too long to announce: the close ends the body
  }
  TReplyBuffering buffering(*thread.Connection());
  response.SendHeader();
  write_body(*thread.Connection());
  buffering.Finish();
  return count;
}

std::int64_t TCustomHTTPServer::SendFileReply(TPeerThread& thread, THTTPResponseInfo& response,
                                              const std::string& file_name) {
  if (response.ContentType.empty())
    response.ContentType = mime_types_->TypeForFile(file_name);
  // Kept open from measuring to sending, so the bytes sent are those of the file measured.
  TFileStream file(file_name, TFileStream::Mode::Read);
  return SendFileRangeReply(thread, response, file, 0, file.Size());
}

std::int64_t TCustomHTTPServer::SendFileRangeReply(TPeerThread& thread, THTTPResponseInfo& response,
                                                   TFileStream& file, std::int64_t offset,
                                                   std::int64_t count) {
  return SendSizedReply(thread, response, count, [&](TTCPConnection& connection) {
    connection.WriteOpenFileRange(file, offset, count);
  });
}

std::int64_t TCustomHTTPServer::SendBytesReply(TPeerThread& thread, THTTPResponseInfo& response,
                                               std::string_view bytes) {
  const auto count = static_cast<std::int64_t>(bytes.size());
  return SendSizedReply(thread, response, count, [&](TTCPConnection& connection) {
    connection.WriteBytes(bytes.data(), count);
  });
}

void TCustomHTTPServer::NotifyCreateSession(TPeerThread& thread,
                                            std::unique_ptr<THTTPSession>& session) {
  session.reset();
  if (OnCreateSession)
    OnCreateSession(thread, session);
}

void TCustomHTTPServer::NotifyInvalidSession(TPeerThread& thread, THTTPRequestInfo& request,
                                             THTTPResponseInfo& response, bool& continue_processing,
                                             const std::string& invalid_session_id) {
  if (OnInvalidSession)
    OnInvalidSession(thread, request, response, continue_processing, invalid_session_id);
}

void TCustomHTTPServer::NotifyCommandOther(TPeerThread& thread, const std::string& command,
                                           const std::string& data, const std::string& version) {
  if (OnCommandOther)
    OnCommandOther(thread, command, data, version);
}

void TCustomHTTPServer::NotifyCommandGet(TPeerThread& thread, THTTPRequestInfo& request,
                                         THTTPResponseInfo& response) {
  if (OnCommandGet)
    OnCommandGet(thread, request, response);
}

void TCustomHTTPServer::NotifyCreatePostStream(TPeerThread& thread,
                                               std::unique_ptr<TStream>& stream) {
  if (OnCreatePostStream)
    OnCreatePostStream(thread, stream);
}

}  // namespace quenby
