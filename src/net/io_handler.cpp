#include "net/io_handler.h"

namespace quenby {

void TIOHandlerSocket::OpenHandler() {
  if (binding_) {
    binding_->ClearAddresses(true);
  } else {
    binding_ = std::make_unique<TSocketHandle>();
  }
}

void TIOHandlerSocket::CloseHandler() {
  if (binding_) {
    binding_->ShutSocket();
  }
}

bool TIOHandlerSocket::HandlerConnected() {
  return binding_ && binding_->HasSocket();
}

bool TIOHandlerSocket::HandlerReadable(int timeout) {
  if (!binding_) {
    throw EConnClosedGracefully(RSConnectionClosedGracefully);
  }
  return binding_->WaitReadable(timeout);
}

int TIOHandlerSocket::HandlerRecv(void* buffer, int length) {
  return HandlerConnected() ? binding_->ReceiveData(buffer, length) : 0;
}

int TIOHandlerSocket::HandlerSend(const void* buffer, int length) {
  return HandlerConnected() ? binding_->SendData(buffer, length) : 0;
}

}  // namespace quenby
