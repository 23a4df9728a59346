#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/connection_intercept.h"
#include "net/io_handler.h"
#include "net/managed_buffer.h"
#include "net/net_component.h"
#include "net/rfc_reply.h"
#include "util/stream.h"

namespace quenby {

/// What ReadLine does with a line longer than its maximum.
enum TMaxLineAction { maException, maSplit };

constexpr int DefaultMaxLineLength = 16384;
constexpr int DefaultRecvBufferSize = 32768;
constexpr int DefaultSendBufferSize = 32768;
/// Files at least this long are sent by the kernel where the connection allows it.
constexpr std::int64_t NativeFileSendMinimum = 65536;
/// Timeout argument meaning "use ReadTimeout".
constexpr int TimeoutDefault = -1;
/// Wait without limit.
constexpr int TimeoutInfinite = -2;

/// Byte and line I/O of one TCP connection through its I/O handler, with an input buffer
/// and optional write buffering.
///
/// Threads: one owning thread (the peer thread) makes every call, except DropSocket, which
/// any thread may call at any time; it wakes a read or write blocked on the owning thread,
/// which then fails with EConnClosedGracefully (or ESocketError for an interrupted send).
/// Failures raise the classes of net/net_exceptions.h.
class TTCPConnection : public TNetComponent {
 public:
  TTCPConnection();
  /// Drops the socket and frees an owned I/O handler.
  ~TTCPConnection() override;

  bool ASCIIFilter = false;
  int MaxLineLength = DefaultMaxLineLength;  ///< 0 = no limit
  TMaxLineAction MaxLineAction = maException;
  int ReadTimeout = 0;  ///< ms for one wait for data; 0 = no limit
  /// ms that bounds a wait for data that would otherwise have no limit; 0 = none. A wait
  /// that reaches it raises EReadTimeout: a client that stalls loses its connection.
  int MaxReadWait = 0;
  int RecvBufferSize = DefaultRecvBufferSize;
  int SendBufferSize = DefaultSendBufferSize;
  std::function<void(TTCPConnection&)> OnDisconnected;

  TIOHandler* IOHandler() const { return io_handler_; }
  /// Installs a handler the caller keeps owning (nullptr to remove).
  void SetIOHandler(TIOHandler* handler);
  /// Installs a handler the connection owns and frees on Disconnect or destruction.
  void SetIOHandler(std::unique_ptr<TIOHandler> handler);
  bool OwnsIOHandler() const { return owned_handler_ != nullptr; }
  /// The socket binding of a plain-socket handler (addresses of both ends), else nullptr.
  TSocketHandle* SocketBinding() const;

  std::shared_ptr<TConnectionIntercept> Intercept() const;
  void SetIntercept(std::shared_ptr<TConnectionIntercept> intercept);

  /// Received bytes not yet consumed.
  TManagedBuffer& InputBuffer() { return receive_buffer_; }
  bool LastReadTimedOut() const { return last_read_timed_out_; }
  bool LastLineSplit() const { return last_line_split_; }

  // --- state ---
  /// The handler holds a socket and the peer has not ended its sending side.
  virtual bool IsConnected();
  /// The handler holds a socket: writes still reach a peer that only ended its sending
  /// side (the socket is closed by Disconnect, DropSocket or destruction).
  bool CanSend();
  /// Whether a reply can no longer reach a waiting client: the socket was dropped (a stop)
  /// or the peer ended its sending side or reset the connection. Consumes nothing and never
  /// waits; owning thread only.
  bool PeerGone();
  /// Raises EConnClosedGracefully when disconnected and (the buffer is empty or
  /// `ignore_buffer`); with `raise` false only updates the state.
  virtual void CheckPeerClosed(bool raise = true, bool ignore_buffer = true);
  /// One wait and receive into the input buffer. Returns the count, -1 on timeout (when
  /// not raising EReadTimeout), 0 when disconnected (when not raising ENotConnected).
  virtual int FillInputBuffer(bool raise_if_disconnected = true, int timeout = TimeoutDefault,
                              bool raise_on_timeout = true);
  /// Clears the input buffer and the peer-closed mark.
  virtual void ResetInput();

  // --- reading ---
  /// A line up to `terminator` (LF also drops a CR before it). An explicit timeout returns
  /// "" with LastReadTimedOut set; TimeoutDefault raises EReadTimeout. A line longer than
  /// `max_length` (-1: MaxLineLength) raises EReadLnMaxLineLengthExceeded or is split.
  virtual std::string ReadLine(const std::string& terminator = "\n", int timeout = TimeoutDefault,
                               int max_length = -1);
  /// Trimmed lines until one is not empty or `attempts` lines were read; the last one.
  std::string ReadLineNonEmpty(int attempts);
  /// Lines up to (not including) `terminator_line`, ".." unstuffed when asked, added to
  /// `target` (nullptr: only counted). Returns the count.
  int CaptureLines(std::vector<std::string>* target, const std::string& terminator_line = ".",
                   bool dot_unstuff = true);
  /// The same with every line written to `target` followed by CR LF.
  int CaptureLines(TStream& target, const std::string& terminator_line = ".",
                   bool dot_unstuff = true);
  /// Exactly `count` bytes; raises EConnClosedGracefully when the peer closes first.
  void ReadBytes(void* buffer, std::int64_t count);
  std::int32_t ReadInt32(bool convert = true);
  /// `byte_count` bytes (-1: a length prefix first) or everything until the peer closes.
  /// The stream keeps exactly what arrived (cut at its position), also when this raises.
  void ReadToStream(TStream& stream, std::int64_t byte_count = -1, bool until_close = false);
  /// Waits once for input (when connected) and returns everything buffered.
  std::string TakeAvailable();
  /// Everything until the peer closes.
  virtual std::string ReadAll();

  // --- writing ---
  virtual void WriteText(const std::string& text);
  virtual void WriteLine(const std::string& text);
  /// Sends (or collects while write buffering, unless `write_now`) `length` bytes.
  void WriteBytes(const void* buffer, std::int64_t length, bool write_now = false);
  void WriteInt32(std::int32_t value, bool convert = true);
  /// From the position (or the start) `byte_count` bytes (0: to the end), optionally after
  /// a length prefix. Raises ENoDataToRead when the stream ends early.
  virtual void WriteFromStream(TStream& stream, bool from_start = true, bool length_first = false,
                               std::int64_t byte_count = 0);
  /// Sends a file, returning its size. Raises EFileNotFound "File \"%s\" not found".
  virtual std::int64_t WriteFileContents(const std::string& file_name, bool allow_native = true);
  /// Sends the whole of an open file from its start, after whatever is collected, and
  /// returns its size. A file of NativeFileSendMinimum bytes or more on a plain socket
  /// without intercept goes through the kernel's file send (the same bytes, no copies);
  /// smaller ones are copied, so that they leave with a collected header in one piece.
  std::int64_t WriteOpenFile(TFileStream& file);
  /// As WriteOpenFile for the `count` bytes from `offset` (both within the file); returns
  /// `count`. Raises ENoDataToRead when the file ends before them.
  std::int64_t WriteOpenFileRange(TFileStream& file, std::int64_t offset, std::int64_t count);
  /// Writes the reply's wire form when it has content.
  void WriteReply(const TRFCReply& reply);

  /// Collects writes until flushed; `threshold` > 0 flushes whenever that many are held.
  void BeginWriteBuffering(int threshold = -1);
  /// Sends `count` collected bytes (-1 or more than held: all).
  void FlushWriteBuffering(std::int64_t count = -1);
  /// Flushes everything, then ends buffering (also when the flush raises).
  void EndWriteBuffering();
  void DiscardWriteBuffering();
  bool WriteBuffering() const { return write_buffer_ != nullptr; }

  /// Input must arrive by `deadline`: a wait for data past it raises EReadTimeout. The
  /// owning thread's; ClearReadDeadline lifts it.
  void SetReadDeadline(std::chrono::steady_clock::time_point deadline) {
    read_deadline_ = deadline;
  }
  void ClearReadDeadline() { read_deadline_.reset(); }
  /// Marks the following writes as the start of a reply whose rest follows soon: on a plain
  /// socket the kernel may hold their last partial segment back (200 ms at most) to send it
  /// with what follows, or with the close. Only the timing changes, never the bytes.
  void SetMoreFollows(bool value) { more_follows_ = value; }

  // --- closing ---
  /// Whether received bytes wait unread, in the input buffer or on the socket (the peer's
  /// close counts). Owning thread.
  bool HasUnreadInput();
  /// Whether received bytes wait unread in the input buffer or, on a plain socket, on the
  /// socket; the peer's close does not count. Never waits. Owning thread.
  bool HasUnreadData();
  /// Takes into the input buffer what has already arrived on a plain socket, in one receive
  /// that does not wait; true when bytes came. The peer's close or a failure is handled as
  /// by any read. False, with nothing done, on any other connection. Owning thread.
  bool ReceiveArrived();
  /// As FillInputBuffer(false, timeout, false): waits up to `timeout` ms for input and takes
  /// it in; -1 on timeout, 0 when disconnected. On a plain socket the wait is the receive
  /// itself, one system call instead of a poll and a receive. Owning thread.
  int AwaitInput(int timeout);
  /// Ends the sending side only, after everything sent so far; reading goes on. Only a
  /// plain socket can: false, and nothing done, on any other connection. Owning thread.
  bool EndSending();
  /// Orderly close: status and OnDisconnected when it was connected; frees an owned handler.
  virtual void Disconnect();
  /// Closes the socket at once. Safe from any thread (see the class comment).
  virtual void DropSocket();

 protected:
  virtual void DoDisconnected();

 private:
  void RaiseMaxLineLength();
  std::string SplitLine(std::size_t length);
  int ReceiveOnce();
  // What one receive into `scratch` returned, `count`, taken into the input buffer (through
  // the intercept and the filter), or its failure handled; returns the bytes taken.
  int TakeReceived(char* scratch, int count);
  void SendAll(const char* bytes, std::size_t length);
  // After one send of `sent` bytes: notes a closed peer, raises on a failure (dropping the
  // socket on a reset or abort), else reports the work.
  void CheckSent(int sent);
  int SendOnce(const char* bytes, int length);
  // `timeout` cut to MaxReadWait and the read deadline; raises EReadTimeout when the deadline
  // has passed.
  int BoundedWait(int timeout) const;
  // The socket a file may be sent on by the kernel, or null.
  TSocketHandle* NativeSendBinding() const;
  void SendFileAll(TSocketHandle& binding, int file, std::int64_t offset, std::int64_t count);
  int CaptureLinesTo(const std::function<void(const std::string&)>& add,
                     const std::string& terminator_line, bool dot_unstuff);

  TIOHandler* io_handler_ = nullptr;
  TIOHandlerSocket* socket_handler_ = nullptr;
  std::unique_ptr<TIOHandler> owned_handler_;
  std::shared_ptr<TConnectionIntercept> intercept_;
  mutable std::mutex handler_lock_;  // guards handler and intercept against DropSocket
  TManagedBuffer receive_buffer_;
  std::optional<std::chrono::steady_clock::time_point> read_deadline_;
  std::atomic<bool> more_follows_{false};
  std::unique_ptr<TSimpleBuffer> write_buffer_;
  // The last write buffer, emptied, while it is small: the next reply uses it again.
  std::unique_ptr<TSimpleBuffer> spare_write_buffer_;
  int write_threshold_ = -1;
  std::atomic<bool> peer_closed_{false};
  bool input_ended_ = false;  // the peer ended its sending side; owning thread only
  bool last_read_timed_out_ = false;
  bool last_line_split_ = false;
};

class TTCPServer;

/// The server side of one accepted connection; knows its server.
class TTCPServerConnection : public TTCPConnection {
 public:
  explicit TTCPServerConnection(TTCPServer* server) : server_(server) {}
  TTCPServer* Server() const { return server_; }

 private:
  TTCPServer* server_;
};

}  // namespace quenby
