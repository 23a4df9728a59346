// Connection state and reading. Writing is in tcp_connection_write.cpp.
#include <algorithm>
#include <cstring>
#include <memory>

#include "net/tcp_connection.h"
#include "util/scope_guard.h"
#include "util/text.h"

namespace quenby {

namespace {

constexpr int ReadUntilCloseRemaining = 2147483647;
constexpr unsigned char AsciiMask = 0x7F;

// One receive scratch per thread, reused by every connection the thread serves, so that a
// connection holds only the bytes that arrived. It starts small, because most receives are a
// request head of a few hundred bytes and a thousand idle connection threads would each hold
// a page of a large one; a receive that fills it makes it the full receive size. Left
// uninitialised: a receive touches only what it fills.
constexpr int FirstScratchSize = 1024;

struct TReceiveScratch {
  std::unique_ptr<char[]> bytes;
  int capacity = 0;
  bool filled = false;  // a receive has filled it: large receives come on this thread
};

thread_local TReceiveScratch t_scratch;

// Room for one receive of at most `limit` bytes; `room` is set to its size.
char* ReceiveScratch(int limit, int& room) {
  const int full = std::max(limit, 1);
  const int wanted = t_scratch.filled ? full : std::min(full, FirstScratchSize);
  if (t_scratch.capacity < wanted) {
    t_scratch.bytes = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(wanted));
    t_scratch.capacity = wanted;
  }
  room = std::min(t_scratch.capacity, full);
  return t_scratch.bytes.get();
}

// A receive of `count` bytes into `room`: one that filled it lets the next one take more.
int NoteReceived(int count, int room) {
  if (count >= room) {
    t_scratch.filled = true;
  }
  return count;
}

}  // namespace

TTCPConnection::TTCPConnection() {
  receive_buffer_.OnBytesRemoved = [this](std::int64_t count) { DoWork(wmRead, count); };
}

TTCPConnection::~TTCPConnection() {
  DropSocket();
  std::unique_ptr<TIOHandler> owned;
  {
    std::lock_guard<std::mutex> lock(handler_lock_);
    io_handler_ = nullptr;
    socket_handler_ = nullptr;
    owned = std::move(owned_handler_);
  }
}

void TTCPConnection::SetIOHandler(TIOHandler* handler) {
  std::unique_ptr<TIOHandler> old;
  std::lock_guard<std::mutex> lock(handler_lock_);
  if (owned_handler_.get() != handler) {
    old = std::move(owned_handler_);
  }
  io_handler_ = handler;
  socket_handler_ = dynamic_cast<TIOHandlerSocket*>(handler);
}

void TTCPConnection::SetIOHandler(std::unique_ptr<TIOHandler> handler) {
  std::unique_ptr<TIOHandler> old;
  std::lock_guard<std::mutex> lock(handler_lock_);
  old = std::move(owned_handler_);
  owned_handler_ = std::move(handler);
  io_handler_ = owned_handler_.get();
  socket_handler_ = dynamic_cast<TIOHandlerSocket*>(io_handler_);
}

TSocketHandle* TTCPConnection::SocketBinding() const {
  return socket_handler_ != nullptr ? socket_handler_->SocketBinding() : nullptr;
}

std::shared_ptr<TConnectionIntercept> TTCPConnection::Intercept() const {
  std::lock_guard<std::mutex> lock(handler_lock_);
  return intercept_;
}

void TTCPConnection::SetIntercept(std::shared_ptr<TConnectionIntercept> intercept) {
  std::lock_guard<std::mutex> lock(handler_lock_);
  intercept_ = std::move(intercept);
}

bool TTCPConnection::IsConnected() {
  CheckPeerClosed(false, false);
  return io_handler_ != nullptr && io_handler_->HandlerConnected() && !input_ended_;
}

bool TTCPConnection::CanSend() {
  CheckPeerClosed(false, false);
  return io_handler_ != nullptr && io_handler_->HandlerConnected();
}

bool TTCPConnection::PeerGone() {
  if (peer_closed_ || input_ended_) {
    return true;
  }
  std::lock_guard<std::mutex> lock(handler_lock_);
  if (io_handler_ == nullptr || !io_handler_->HandlerConnected()) {
    return true;
  }
  TSocketHandle* binding = socket_handler_ != nullptr ? socket_handler_->SocketBinding() : nullptr;
  return binding != nullptr && binding->PeerHungUp();
}

void TTCPConnection::CheckPeerClosed(bool raise, bool ignore_buffer) {
  bool disconnected = false;
  if (io_handler_ != nullptr) {
    if (peer_closed_) {
      // The socket is still held, so the peer ended its sending side. The connection
      // counts as disconnected, but the socket stays open for a reply until Disconnect.
      if (io_handler_->HandlerConnected() && !input_ended_) {
        input_ended_ = true;
        DoStatus(hsDisconnected);
        DoDisconnected();
      }
      disconnected = true;
    } else {
      disconnected = !io_handler_->HandlerConnected() || input_ended_;
    }
  }
  if (disconnected && raise && (receive_buffer_.Size() == 0 || ignore_buffer)) {
    throw EConnClosedGracefully(RSConnectionClosedGracefully);
  }
}

void TTCPConnection::ResetInput() {
  receive_buffer_.Clear();
  peer_closed_ = false;
}

void TTCPConnection::DoDisconnected() {
  if (OnDisconnected) {
    OnDisconnected(*this);
  }
}

int TTCPConnection::ReceiveOnce() {
  int room = 0;
  char* scratch = ReceiveScratch(RecvBufferSize, room);
  return TakeReceived(scratch, NoteReceived(io_handler_->HandlerRecv(scratch, room), room));
}

bool TTCPConnection::ReceiveArrived() {
  TSocketHandle* binding = NativeSendBinding();
  if (binding == nullptr || !IsConnected()) {
    return false;
  }
  int room = 0;
  char* scratch = ReceiveScratch(RecvBufferSize, room);
  const int count = NoteReceived(binding->ReceiveData(scratch, room, MSG_DONTWAIT), room);
  if (count == SocketError && SocketStack().SockLastError() == SockErrWouldBlock) {
    return false;
  }
  return TakeReceived(scratch, count) > 0;
}

int TTCPConnection::AwaitInput(int timeout) {
  TSocketHandle* binding = NativeSendBinding();
  // Anything that could cut the wait short keeps to the general path.
  if (binding == nullptr || timeout <= 0 || read_deadline_ || !IsConnected() ||
      !binding->SetReceiveTimeout(timeout)) {
    return FillInputBuffer(false, timeout, false);
  }
  int room = 0;
  char* scratch = ReceiveScratch(RecvBufferSize, room);
  const int count = NoteReceived(binding->ReceiveData(scratch, room), room);
  if (count == SocketError && SocketStack().SockLastError() == SockErrWouldBlock) {
    return -1;
  }
  const int taken = TakeReceived(scratch, count);
  CheckPeerClosed(false, false);
  return taken;
}

int TTCPConnection::TakeReceived(char* scratch, int count) {
  peer_closed_ = count == 0;
  if (count == SocketError) {
    TSocketStack& stack = SocketStack();
    if (stack.CheckSocketResult(count, {SockErrShutdown, SockErrConnAborted})) {
      const int code = stack.SockLastError();
      count = 0;
      DropSocket();
      if (receive_buffer_.Size() == 0) {
        stack.ReportSocketError(code);
      }
    }
  }
  if (count > 0) {
    char* data = scratch;
    std::string intercepted;
    if (auto intercept = Intercept()) {
      intercepted.assign(scratch, static_cast<std::size_t>(count));
      intercept->Receive(intercepted);
      data = intercepted.data();
      count = static_cast<int>(intercepted.size());
    }
    if (ASCIIFilter) {
      for (int i = 0; i < count; ++i) {
        data[i] = static_cast<char>(static_cast<unsigned char>(data[i]) & AsciiMask);
      }
    }
    receive_buffer_.Append(data, static_cast<std::size_t>(count));
  }
  return count;
}

int TTCPConnection::BoundedWait(int timeout) const {
  if (timeout == TimeoutInfinite && MaxReadWait > 0) {
    timeout = MaxReadWait;
  }
  if (!read_deadline_) {
    return timeout;
  }
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        *read_deadline_ - std::chrono::steady_clock::now())
                        .count();
  if (left <= 0) {
    throw EReadTimeout(RSReadTimeout);
  }
  return timeout == TimeoutInfinite || timeout > left ? static_cast<int>(left) : timeout;
}

int TTCPConnection::FillInputBuffer(bool raise_if_disconnected, int timeout,
                                    bool raise_on_timeout) {
  if (timeout == TimeoutDefault) {
    timeout = ReadTimeout == 0 ? TimeoutInfinite : ReadTimeout;
  }
  // A wait cut short by the stall limit or the deadline raises whatever the caller asked.
  const int wanted = timeout;
  timeout = BoundedWait(timeout);
  raise_on_timeout = raise_on_timeout || timeout != wanted;
  CheckPeerClosed(raise_if_disconnected, false);
  if (!IsConnected()) {
    if (raise_if_disconnected) {
      throw ENotConnected(RSNotConnected);
    }
    return 0;
  }
  int count = 0;
  do {
    if (!io_handler_->HandlerReadable(timeout)) {
      if (raise_on_timeout) {
        throw EReadTimeout(RSReadTimeout);
      }
      return -1;
    }
    count = ReceiveOnce();
    CheckPeerClosed(raise_if_disconnected, false);
  } while (count == 0 && IsConnected());
  return count;
}

void TTCPConnection::RaiseMaxLineLength() {
  throw EReadLnMaxLineLengthExceeded(RSMaxLineLengthExceeded);
}

std::string TTCPConnection::SplitLine(std::size_t length) {
  last_line_split_ = true;
  return receive_buffer_.Extract(length);
}

std::string TTCPConnection::ReadLine(const std::string& terminator, int timeout, int max_length) {
  const std::size_t max = static_cast<std::size_t>(max_length == -1 ? MaxLineLength : max_length);
  const std::string term = terminator.empty() ? std::string("\n") : terminator;
  last_line_split_ = false;
  last_read_timed_out_ = false;
  std::size_t scanned = 0;
  for (;;) {
    std::size_t found = std::string::npos;
    if (receive_buffer_.Size() > 0) {
      // Step back so that a terminator split across two receives is still found.
      const std::size_t from = scanned >= term.size() ? scanned - (term.size() - 1) : 0;
      found = receive_buffer_.Find(term, from);
      scanned = receive_buffer_.Size();
    }
    if (found != std::string::npos) {
      if (max != 0 && found > max) {
        if (MaxLineAction == maException)
          RaiseMaxLineLength();
        return SplitLine(max);
      }
      std::string line = receive_buffer_.Extract(found);
      receive_buffer_.Remove(term.size());
      if (term == "\n" && !line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      return line;
    }
    // Up to term.size() - 1 scanned bytes may be the start of a terminator still arriving.
    if (max != 0 && scanned > max + (term.size() - 1)) {
      if (MaxLineAction == maException)
        RaiseMaxLineLength();
      return SplitLine(max);
    }
    CheckPeerClosed(true, true);
    if (FillInputBuffer(true, timeout, timeout == TimeoutDefault) == -1) {
      last_read_timed_out_ = true;
      return {};
    }
  }
}

std::string TTCPConnection::ReadLineNonEmpty(int attempts) {
  std::string line;
  for (int i = 0; i < attempts; ++i) {
    line = Trim(ReadLine("\n"));
    if (!line.empty()) {
      break;
    }
  }
  return line;
}

int TTCPConnection::CaptureLinesTo(const std::function<void(const std::string&)>& add,
                                   const std::string& terminator_line, bool dot_unstuff) {
  BeginWork(wmRead, 0);
  return Finally(
      [&] {
        int count = 0;
        for (;;) {
          std::string line = ReadLine("\n");
          if (line == terminator_line) {
            return count;
          }
          if (dot_unstuff && line.compare(0, 2, "..") == 0) {
            line.erase(0, 1);
          }
          ++count;
          if (add) {
            add(line);
          }
        }
      },
      [this] { EndWork(wmRead); });
}

int TTCPConnection::CaptureLines(std::vector<std::string>* target,
                                 const std::string& terminator_line, bool dot_unstuff) {
  std::function<void(const std::string&)> add;
  if (target != nullptr) {
    add = [target](const std::string& line) { target->push_back(line); };
  }
  return CaptureLinesTo(add, terminator_line, dot_unstuff);
}

int TTCPConnection::CaptureLines(TStream& target, const std::string& terminator_line,
                                 bool dot_unstuff) {
  return CaptureLinesTo(
      [&target](const std::string& line) {
        const std::string text = line + "\r\n";
        target.Write(text.data(), static_cast<std::int64_t>(text.size()));
      },
      terminator_line, dot_unstuff);
}

void TTCPConnection::ReadBytes(void* buffer, std::int64_t count) {
  if (count <= 0 || buffer == nullptr) {
    return;
  }
  while (static_cast<std::int64_t>(receive_buffer_.Size()) < count) {
    FillInputBuffer(true, TimeoutDefault, true);
    CheckPeerClosed(true, true);
  }
  std::memcpy(buffer, receive_buffer_.Data(), static_cast<std::size_t>(count));
  receive_buffer_.Remove(static_cast<std::size_t>(count));
}

std::int32_t TTCPConnection::ReadInt32(bool convert) {
  std::uint32_t value = 0;
  ReadBytes(&value, sizeof(value));
  if (convert) {
    value = TSocketStack::NetworkToHost32(value);
  }
  return static_cast<std::int32_t>(value);
}

void TTCPConnection::ReadToStream(TStream& stream, std::int64_t byte_count, bool until_close) {
  if (byte_count == -1 && !until_close) {
    byte_count = ReadInt32(true);
  }
  if (byte_count >= 0 && !until_close) {
    const std::int64_t position = stream.Position();
    stream.SetSize(position + byte_count);
    stream.SetPosition(position);
  }
  std::int64_t remaining = until_close ? ReadUntilCloseRemaining : byte_count;
  BeginWork(wmRead, until_close ? 0 : byte_count);
  // Moves up to `remaining` buffered bytes into the stream.
  auto take_buffered = [&] {
    const std::int64_t count =
        std::min<std::int64_t>(static_cast<std::int64_t>(receive_buffer_.Size()), remaining);
    if (count > 0) {
      stream.Write(receive_buffer_.Data(), count);
      receive_buffer_.Remove(static_cast<std::size_t>(count));
      remaining -= count;
    }
  };
  auto read_chunks = [&] {
    take_buffered();
    std::string chunk;
    while (remaining > 0 && IsConnected()) {
      const std::int64_t size = std::min<std::int64_t>(remaining, RecvBufferSize);
      chunk.resize(static_cast<std::size_t>(size));
      try {
        ReadBytes(chunk.data(), size);
      } catch (const EConnClosedGracefully&) {
        // What did arrive goes into the stream before the close is reported.
        take_buffered();
        if (until_close)
          return;
        throw;
      }
      stream.Write(chunk.data(), size);
      remaining -= size;
    }
  };
  Finally(read_chunks, [&] {
    EndWork(wmRead);
    if (stream.Position() < stream.Size()) {
      stream.SetSize(stream.Position());
    }
  });
}

std::string TTCPConnection::TakeAvailable() {
  if (IsConnected()) {
    FillInputBuffer(false, TimeoutDefault, true);
  }
  return receive_buffer_.Extract(receive_buffer_.Size());
}

std::string TTCPConnection::ReadAll() {
  BeginWork(wmRead, 0);
  return Finally(
      [this] {
        std::string all;
        while (IsConnected()) {
          all += TakeAvailable();
        }
        return all + receive_buffer_.Extract(receive_buffer_.Size());
      },
      [this] { EndWork(wmRead); });
}

bool TTCPConnection::HasUnreadInput() {
  return receive_buffer_.Size() > 0 || (io_handler_ != nullptr && io_handler_->HandlerConnected() &&
                                        io_handler_->HandlerReadable(0));
}

bool TTCPConnection::HasUnreadData() {
  if (receive_buffer_.Size() > 0)
    return true;
  TSocketHandle* binding = NativeSendBinding();
  return binding != nullptr && binding->HasPendingData();
}

void TTCPConnection::DropSocket() {
  std::lock_guard<std::mutex> lock(handler_lock_);
  if (io_handler_ == nullptr) {
    return;
  }
  peer_closed_ = true;
  if (intercept_) {
    intercept_->Disconnect();
  }
  io_handler_->CloseHandler();
}

void TTCPConnection::Disconnect() {
  const bool was_connected = IsConnected();
  if (was_connected) {
    DoStatus(hsDisconnecting);
    DropSocket();
  } else if (input_ended_) {
    DropSocket();  // kept open after the peer's half-close
  }
  std::unique_ptr<TIOHandler> owned;
  {
    std::lock_guard<std::mutex> lock(handler_lock_);
    if (owned_handler_) {
      owned = std::move(owned_handler_);
      io_handler_ = nullptr;
      socket_handler_ = nullptr;
    }
  }
  if (was_connected) {
    DoDisconnected();
    DoStatus(hsDisconnected);
  }
}

}  // namespace quenby
