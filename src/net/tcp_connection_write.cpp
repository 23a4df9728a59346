// Connection writing: direct sends, write buffering, streams and files.
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "net/sigpipe_guard.h"
#include "net/tcp_connection.h"
#include "util/scope_guard.h"
#include "util/text.h"

namespace quenby {
namespace {

// A write buffer up to this size is kept for the connection's next reply, so that a kept
// connection does not make one for every reply; a bigger one is given back.
constexpr std::size_t KeptWriteBufferSize = 4096;

}  // namespace

void TTCPConnection::WriteBytes(const void* buffer, std::int64_t length, bool write_now) {
  if (length <= 0 || buffer == nullptr) {
    return;
  }
  // A peer that only ended its sending side still receives.
  if (!CanSend()) {
    CheckPeerClosed(true, true);
    throw ENotConnected(RSNotConnected);
  }
  if (write_buffer_ && !write_now) {
    write_buffer_->Append(buffer, static_cast<std::size_t>(length));
    if (write_threshold_ > 0 &&
        write_buffer_->Size() >= static_cast<std::size_t>(write_threshold_)) {
      FlushWriteBuffering(write_threshold_);
    }
    return;
  }
  const char* bytes = static_cast<const char*>(buffer);
  if (auto intercept = Intercept()) {
    // Only an intercept may see (and change) the bytes: copied for it alone.
    std::string seen(bytes, static_cast<std::size_t>(length));
    intercept->Send(seen);
    SendAll(seen.data(), seen.size());
    return;
  }
  SendAll(bytes, static_cast<std::size_t>(length));
}

void TTCPConnection::SendAll(const char* bytes, std::size_t length) {
  constexpr std::size_t MaxSendChunk = 0x7FFFFFFF;
  std::size_t position = 0;
  while (position < length) {
    const int chunk = static_cast<int>(std::min(length - position, MaxSendChunk));
    const int sent = SendOnce(bytes + position, chunk);
    CheckSent(sent);
    position += static_cast<std::size_t>(sent);
  }
}

int TTCPConnection::SendOnce(const char* bytes, int length) {
  if (io_handler_ == nullptr) {
    return 0;
  }
  if (more_follows_) {
    if (TSocketHandle* binding = NativeSendBinding()) {
      return binding->SendData(bytes, length, MSG_MORE);
    }
  }
  return io_handler_->HandlerSend(bytes, length);
}

void TTCPConnection::CheckSent(int sent) {
  peer_closed_ = sent == 0;
  if (!CanSend()) {
    CheckPeerClosed(true, true);
  }
  if (sent == SocketError) {
    TSocketStack& stack = SocketStack();
    if (stack.CheckSocketResult(sent, {SockErrShutdown, SockErrConnAborted, SockErrConnReset})) {
      const int code = stack.SockLastError();
      DropSocket();
      stack.ReportSocketError(code);
    }
  }
  DoWork(wmWrite, sent);
}

void TTCPConnection::WriteText(const std::string& text) {
  if (!text.empty()) {
    WriteBytes(text.data(), static_cast<std::int64_t>(text.size()));
  }
}

void TTCPConnection::WriteLine(const std::string& text) {
  WriteText(text + "\r\n");
}

void TTCPConnection::WriteInt32(std::int32_t value, bool convert) {
  std::uint32_t bytes = static_cast<std::uint32_t>(value);
  if (convert) {
    bytes = TSocketStack::HostToNetwork32(bytes);
  }
  WriteBytes(&bytes, sizeof(bytes));
}

void TTCPConnection::WriteFromStream(TStream& stream, bool from_start, bool length_first,
                                     std::int64_t byte_count) {
  if (from_start) {
    stream.SetPosition(0);
  }
  const std::int64_t end = byte_count != 0 ? stream.Position() + byte_count : stream.Size();
  if (length_first) {
    WriteInt32(static_cast<std::int32_t>(end - stream.Position()));
  }
  BeginWork(wmWrite, end - stream.Position());
  auto write_chunks = [&] {
    // No larger than what is left: a small file does not pay for a whole send buffer.
    const std::int64_t piece = std::min<std::int64_t>(
        std::max(SendBufferSize, 1), std::max<std::int64_t>(end - stream.Position(), 1));
    std::string scratch(static_cast<std::size_t>(piece), '\0');
    for (;;) {
      const std::int64_t chunk = std::min<std::int64_t>(end - stream.Position(),
                                                        static_cast<std::int64_t>(scratch.size()));
      if (chunk <= 0) {
        return;
      }
      const std::int64_t read = stream.Read(scratch.data(), chunk);
      if (read <= 0) {
        throw ENoDataToRead(RSNoDataToRead);
      }
      WriteBytes(scratch.data(), read);
    }
  };
  Finally(write_chunks, [this] { EndWork(wmWrite); });
}

TSocketHandle* TTCPConnection::NativeSendBinding() const {
  if (Intercept() || socket_handler_ == nullptr || !socket_handler_->NativeSendAllowed()) {
    return nullptr;
  }
  return socket_handler_->SocketBinding();
}

std::int64_t TTCPConnection::WriteFileContents(const std::string& file_name, bool allow_native) {
  struct stat info {};
  if (::stat(file_name.c_str(), &info) != 0) {
    throw EFileNotFound(Format(RSFileNotFound, file_name.c_str()));
  }
  if (TSocketHandle* binding = allow_native ? NativeSendBinding() : nullptr) {
    // Whatever is still collected must reach the peer before the file does.
    if (write_buffer_) {
      FlushWriteBuffering(-1);
    }
    return binding->TransmitFile(file_name);
  }
  TFileStream file(file_name, TFileStream::Mode::Read);
  WriteFromStream(file, true, false, 0);
  return file.Size();
}

std::int64_t TTCPConnection::WriteOpenFile(TFileStream& file) {
  return WriteOpenFileRange(file, 0, file.Size());
}

std::int64_t TTCPConnection::WriteOpenFileRange(TFileStream& file, std::int64_t offset,
                                                std::int64_t count) {
  TSocketHandle* binding = NativeSendBinding();
  if (binding == nullptr || count < NativeFileSendMinimum) {
    file.SetPosition(offset);
    if (count > 0) {  // a count of 0 would mean "to the end"
      WriteFromStream(file, false, false, count);
    }
    return count;
  }
  FlushWriteBuffering(-1);
  if (!CanSend()) {
    CheckPeerClosed(true, true);
    throw ENotConnected(RSNotConnected);
  }
  BeginWork(wmWrite, count);
  Finally([&] { SendFileAll(*binding, file.Handle(), offset, count); },
          [this] { EndWork(wmWrite); });
  return count;
}

void TTCPConnection::SendFileAll(TSocketHandle& binding, int file, std::int64_t offset,
                                 std::int64_t count) {
  constexpr std::int64_t MaxSendChunk = 0x7FFFF000;  // what one kernel call sends at most
  TSigPipeGuard no_sigpipe;  // the kernel's file send has no flag against SIGPIPE
  const std::int64_t end = offset + count;
  while (offset < end) {
    const int chunk = static_cast<int>(std::min(end - offset, MaxSendChunk));
    const int sent = binding.SendFileData(file, offset, chunk);
    CheckSent(sent);
    if (sent == 0) {
      throw ENoDataToRead(RSNoDataToRead);  // the file ended before its announced size
    }
  }
}

bool TTCPConnection::EndSending() {
  TSocketHandle* binding = NativeSendBinding();
  return binding != nullptr && binding->ShutdownSending();
}

void TTCPConnection::WriteReply(const TRFCReply& reply) {
  if (reply.HasContent()) {
    WriteText(reply.FormattedReply());
  }
}

void TTCPConnection::BeginWriteBuffering(int threshold) {
  write_buffer_ =
      spare_write_buffer_ ? std::move(spare_write_buffer_) : std::make_unique<TSimpleBuffer>();
  write_threshold_ = threshold;
}

void TTCPConnection::FlushWriteBuffering(std::int64_t count) {
  if (!write_buffer_ || write_buffer_->Size() == 0) {
    return;
  }
  const std::int64_t held = static_cast<std::int64_t>(write_buffer_->Size());
  if (count == -1 || held < count) {
    WriteBytes(write_buffer_->Data(), held, true);
    write_buffer_->Clear();
  } else {
    WriteBytes(write_buffer_->Data(), count, true);
    write_buffer_->Remove(static_cast<std::size_t>(count));
  }
}

void TTCPConnection::EndWriteBuffering() {
  TScopeGuard end([this] {  // also when the flush raises
    std::unique_ptr<TSimpleBuffer> used = std::move(write_buffer_);
    if (used && used->Capacity() <= KeptWriteBufferSize) {
      used->Clear();
      spare_write_buffer_ = std::move(used);
    }
  });
  FlushWriteBuffering(-1);
}

void TTCPConnection::DiscardWriteBuffering() {
  if (write_buffer_) {
    write_buffer_->Clear();
  }
}

}  // namespace quenby
