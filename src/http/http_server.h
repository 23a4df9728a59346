#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/http_request_info.h"
#include "http/http_response_info.h"
#include "http/http_session.h"
#include "http/mime_table.h"
#include "http/session_cleaner_thread.h"
#include "http/session_list.h"
#include "net/peer_thread.h"
#include "net/tcp_server.h"
#include "util/stream.h"

namespace quenby {

/// Port a new HTTP server binds when a binding names none.
constexpr int DefaultHTTPPort = 80;
/// ms within which a request's head (request line and header lines) must arrive whole.
constexpr int DefaultHeadTimeOut = 60000;
/// ms a client may leave one read of its request waiting (a stalled body, or a module's
/// ReadClient), whatever else the read allows.
constexpr int DefaultStallTimeOut = 60000;
/// ms a kept connection may wait for its next request line before it is closed.
constexpr int DefaultKeepAliveIdleTime = 5000;

/// Answers a GET, POST or HEAD request (any method with AllMethodsToCommandGet) by filling
/// (or writing) the reply.
using THTTPGetEvent = std::function<void(TPeerThread& AThread, THTTPRequestInfo& ARequestInfo,
                                         THTTPResponseInfo& AResponseInfo)>;
/// Receives a request line of any other method; the engine writes nothing for it.
using THTTPOtherEvent =
    std::function<void(TPeerThread& Thread, const std::string& asCommand, const std::string& asData,
                       const std::string& asVersion)>;
/// May supply the stream the body is read into; the request record then owns it.
using TOnCreatePostStream =
    std::function<void(TPeerThread& ASender, std::unique_ptr<TStream>& VPostStream)>;
/// May supply a session object; the session list then owns it.
using TOnCreateSession =
    std::function<void(TPeerThread& ASender, std::unique_ptr<THTTPSession>& VHTTPSession)>;
/// A session cookie named no live session; clearing `VContinueProcessing` skips the handler.
using THTTPInvalidSessionEvent = std::function<void(
    TPeerThread& Thread, THTTPRequestInfo& ARequestInfo, THTTPResponseInfo& AResponseInfo,
    bool& VContinueProcessing, const std::string& AInvalidSessionID)>;

/// A TCP server that serves HTTP: each connection's peer thread reads requests, fills a
/// THTTPRequestInfo, calls OnCommandGet with a fresh THTTPResponseInfo and writes what the
/// handler left unwritten, one request after another while the connection is kept alive.
///
/// Threads: properties and events are set on the controlling thread while the server is
/// inactive, and read without locking by peer threads. Events fire on the peer thread of
/// the request (OnSessionEnd also on the cleaner or the deactivating thread), so handlers
/// must be safe to run concurrently.
class TCustomHTTPServer : public TTCPServer {
 public:
  TCustomHTTPServer();
  /// Deactivates and waits until no peer thread uses the server any more.
  ~TCustomHTTPServer() override;

  /// Start a session for requests that bring none (only with SessionState on).
  bool AutoStartSession = false;
  /// Allow more than one request per connection.
  bool KeepAlive = false;
  /// With KeepAlive: connections are kept as HTTP/1.1 clients expect (KeepsConnection), every
  /// reply on them says where it ends (THTTPResponseInfo::FramedReply), a request whose body
  /// cannot be delimited is refused and closes (RequestFramingFault), and a kept connection
  /// idle for KeepAliveIdleTime ms is closed. Without it, KeepAlive keeps only requests that
  /// send "Connection: Keep-alive".
  bool FramedKeepAlive = false;
  int KeepAliveIdleTime = DefaultKeepAliveIdleTime;
  /// Idle and slow clients: a head that has not arrived within HeadTimeOut ms, or a read
  /// that waits StallTimeOut ms, ends the connection, so that no client holds a thread
  /// longer. 0 turns a limit off.
  int HeadTimeOut = DefaultHeadTimeOut;
  int StallTimeOut = DefaultStallTimeOut;
  /// Decode parameters into the request's ParamList.
  bool ParseParams = true;
  /// Hand every request to OnCommandGet instead of GET, POST and HEAD only. A method that is
  /// not a well-formed token (IsMethodToken) still goes to OnCommandOther. Any method's body
  /// is read by its Content-Length; only a POST without one is read up to the close.
  bool AllMethodsToCommandGet = false;
  /// Value of every reply's "Server" header when not blank.
  std::string ServerSoftware;
  /// Extension to content type table of SendFileReply; owned, filled at construction.
  TMimeTable& MimeTypes() { return *mime_types_; }
  /// The sessions; owned.
  THTTPDefaultSessionList& SessionList() { return *session_list_; }

  bool SessionState() const { return session_state_; }
  /// Raises EHTTPCannotSwitchSessionStateWhenActive ("Cannot change session state when the
  /// server is active.") while the server is active.
  void SetSessionState(bool value);
  /// Idle milliseconds after which a session ends; 0 switches sessions off at activation.
  std::int32_t SessionTimeOut = 0;

  TOnCreatePostStream OnCreatePostStream;
  TOnCreateSession OnCreateSession;
  THTTPInvalidSessionEvent OnInvalidSession;
  /// Handed to SessionList at activation.
  TOnSessionEndEvent OnSessionEnd;
  TOnSessionStartEvent OnSessionStart;
  THTTPGetEvent OnCommandGet;
  THTTPOtherEvent OnCommandOther;

  /// Activating copies the session settings into SessionList and, with sessions on, starts
  /// the cleaner thread. Deactivating stops the listeners and peer threads first, and only
  /// then the cleaner and every session, so no handler can still hold a freed session.
  void SetActive(bool value) override;

  /// Serves one connection until it ends, then disconnects it; always true. Runs on the
  /// connection's peer thread.
  bool ExecuteHook(TPeerThread& thread) override;

  /// Starts a session for the request (OnCreateSession may supply it), adds the session
  /// cookie to the reply and sets both records' CurrentSession. Null when SessionState is
  /// off. Called on the request's peer thread.
  THTTPSession* BeginSession(TPeerThread& thread, THTTPResponseInfo& response,
                             THTTPRequestInfo& request);

  /// Answers with a file: ContentType from MimeTypes when it is empty, ContentLength from
  /// the file size, SendHeader, then the file's bytes. Returns the bytes written. A file that
  /// cannot be opened raises before anything is written (EInOutError); connection errors
  /// pass through.
  virtual std::int64_t SendFileReply(TPeerThread& thread, THTTPResponseInfo& response,
                                     const std::string& file_name);
  /// Answers with `count` bytes of an open file from `offset` (both checked by the caller):
  /// ContentLength `count`, SendHeader, then those bytes. The status, type and any other
  /// header are the caller's. Returns the bytes written; connection errors pass through.
  std::int64_t SendFileRangeReply(TPeerThread& thread, THTTPResponseInfo& response,
                                  TFileStream& file, std::int64_t offset, std::int64_t count);
  /// As SendFileRangeReply for bytes already in memory, which go out with the header in one
  /// write when they fit the reply's buffer.
  std::int64_t SendBytesReply(TPeerThread& thread, THTTPResponseInfo& response,
                              std::string_view bytes);

 private:
  // Announces `count` (or, when it is too long to announce, that the close ends the body),
  // sends the header, then what `write_body` writes: `count` bytes.
  template <typename TWriteBody>
  std::int64_t SendSizedReply(TPeerThread& thread, THTTPResponseInfo& response, std::int64_t count,
                              const TWriteBody& write_body);

 protected:
  /// Fires OnCreateSession with `session` reset to none.
  virtual void NotifyCreateSession(TPeerThread& thread, std::unique_ptr<THTTPSession>& session);
  virtual void NotifyInvalidSession(TPeerThread& thread, THTTPRequestInfo& request,
                                    THTTPResponseInfo& response, bool& continue_processing,
                                    const std::string& invalid_session_id);
  virtual void NotifyCommandOther(TPeerThread& thread, const std::string& command,
                                  const std::string& data, const std::string& version);
  virtual void NotifyCommandGet(TPeerThread& thread, THTTPRequestInfo& request,
                                THTTPResponseInfo& response);
  virtual void NotifyCreatePostStream(TPeerThread& thread, std::unique_ptr<TStream>& stream);

 private:
  // One request of the loop; false when the request line ends the connection. `close`
  // keeps the decision of the last request that had a reply.
  bool ServeRequest(TPeerThread& thread, TTCPConnection& connection, bool& close, bool first);
  bool ReachesCommandGet(const std::string& method) const;
  bool Framed() const { return KeepAlive && FramedKeepAlive; }
  // Waits up to KeepAliveIdleTime for the next request on a kept connection; false when
  // none came (or the client left).
  bool AwaitNextRequest(TTCPConnection& connection) const;
  // Decides whether the connection stays open after `response`; true when the request is
  // refused for its framing (the refusal is then sent).
  bool RefusedForFraming(TPeerThread& thread, THTTPRequestInfo& request,
                         THTTPResponseInfo& response);
  // Reads the header lines and parses them into `request`.
  void ReadHead(TTCPConnection& connection, THTTPRequestInfo& request);
  // `keep`: the connection stays open, so a body without a length is empty.
  void ReadBody(TPeerThread& thread, TTCPConnection& connection, THTTPRequestInfo& request,
                bool keep);
  // Session lookup from the cookies; false when OnInvalidSession stopped the request.
  bool LookUpSession(TPeerThread& thread, THTTPRequestInfo& request, THTTPResponseInfo& response);
  // The handler inside the 500 trap, then whatever it left unwritten.
  void AnswerRequest(TPeerThread& thread, THTTPRequestInfo& request, THTTPResponseInfo& response,
                     bool continue_processing);
  void StopSessionCleaner();
  void WaitForPeerThreadsToLeave();

  bool session_state_ = false;
  std::unique_ptr<TMimeTable> mime_types_;
  std::unique_ptr<THTTPDefaultSessionList> session_list_;
  std::unique_ptr<THTTPSessionCleanerThread> session_cleaner_;
};

/// The HTTP server with its events in public view.
class THTTPServer : public TCustomHTTPServer {
 public:
  THTTPServer() = default;
};

}  // namespace quenby
