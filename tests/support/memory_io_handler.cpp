#include "support/memory_io_handler.h"

#include <algorithm>
#include <cstring>

#include "net/socket_stack.h"

namespace quenby::test {

TMemoryIOHandler::TMemoryIOHandler(std::vector<std::string> chunks, TInputEnd end) : end_(end) {
  for (std::string& chunk : chunks)
    AddInput(std::move(chunk));
}

void TMemoryIOHandler::AddInput(std::string chunk) {
  if (!chunk.empty())  // an empty chunk would read as the peer's close
    input_.push_back(std::move(chunk));
}

void TMemoryIOHandler::FailReceive(int call, int code) {
  receive_failure_ = {call, code};
}

void TMemoryIOHandler::FailSend(int call, int code) {
  send_failure_ = {call, code};
}

std::size_t TMemoryIOHandler::PendingInput() const {
  std::size_t pending = 0;
  for (const std::string& chunk : input_)
    pending += chunk.size();
  return pending - consumed_;
}

bool TMemoryIOHandler::Fails(const TFailure& failure, int call) {
  if (failure.call != call)
    return false;
  SetSocketLastError(failure.code);
  return true;
}

bool TMemoryIOHandler::HandlerReadable(int /*timeout*/) {
  return closed_ || !input_.empty() || end_ == TInputEnd::Close ||
         receive_failure_.call == receive_calls_ + 1;
}

int TMemoryIOHandler::HandlerRecv(void* buffer, int length) {
  if (Fails(receive_failure_, ++receive_calls_))
    return SocketError;
  if (closed_ || input_.empty() || length <= 0)
    return 0;
  const std::string& chunk = input_.front();
  const std::size_t count = std::min(chunk.size() - consumed_, static_cast<std::size_t>(length));
  std::memcpy(buffer, chunk.data() + consumed_, count);
  consumed_ += count;
  if (consumed_ == chunk.size()) {
    input_.pop_front();
    consumed_ = 0;
  }
  return static_cast<int>(count);
}

int TMemoryIOHandler::HandlerSend(const void* buffer, int length) {
  if (Fails(send_failure_, ++send_calls_))
    return SocketError;
  if (closed_ || length <= 0)
    return 0;
  std::size_t count = static_cast<std::size_t>(length);
  if (MaxSendCount > 0)
    count = std::min(count, MaxSendCount);
  sends_.emplace_back(static_cast<const char*>(buffer), count);
  output_ += sends_.back();
  return static_cast<int>(count);
}

TMemoryConnection::TMemoryConnection(std::vector<std::string> chunks,
                                     TMemoryIOHandler::TInputEnd end)
    : handler(std::move(chunks), end) {
  connection.SetIOHandler(&handler);
}

std::vector<TDelivery> Deliveries(const std::string& text) {
  std::vector<TDelivery> deliveries{{"whole", {text}}};
  for (std::size_t at = 1; at < text.size(); ++at)
    deliveries.push_back({"split at " + std::to_string(at), {text.substr(0, at), text.substr(at)}});
  TDelivery bytes{"one byte per chunk", {}};
  for (char c : text)
    bytes.Chunks.emplace_back(1, c);
  deliveries.push_back(std::move(bytes));
  return deliveries;
}

}  // namespace quenby::test
