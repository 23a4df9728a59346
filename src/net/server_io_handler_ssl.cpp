#include "net/server_io_handler_ssl.h"

namespace quenby {

void TServerIOHandlerSSL::InitHandler() {
  auto context = std::make_shared<TSSLContext>();
  context->Options = SSLOptions;
  context->VerifyOn = static_cast<bool>(OnVerifyPeer);
  context->StatusInfoOn = static_cast<bool>(OnStatusInfo);
  context->OnStatusInfo = OnStatusInfo;
  context->OnGetPassword = OnGetPassword;
  context->OnVerifyPeer = OnVerifyPeer;
  context->InitContext(sslCtxServer);
  std::lock_guard<std::mutex> lock(lock_);
  context_ = std::move(context);
}

std::unique_ptr<TIOHandler> TServerIOHandlerSSL::AcceptConnection(TSocketHandle& listening,
                                                                  TNetThread* thread) {
  std::unique_ptr<TSSLIOHandlerSocket> handler = MakeHandler();
  handler->OpenHandler();
  if (!AcceptInto(*handler, listening, thread)) {
    return nullptr;
  }
  return handler;
}

std::unique_ptr<TIOHandler> TServerIOHandlerSSL::AcceptWaitingConnection(TSocketHandle& listening) {
  return AcceptWaitingInto(MakeHandler(), listening);
}

std::unique_ptr<TSSLIOHandlerSocket> TServerIOHandlerSSL::MakeHandler() {
  std::shared_ptr<TSSLContext> context = Context();
  if (!context) {
    InitHandler();
    context = Context();
  }
  return std::make_unique<TSSLIOHandlerSocket>(std::move(context), HandshakeTimeOut);
}

std::shared_ptr<TSSLContext> TServerIOHandlerSSL::Context() const {
  std::lock_guard<std::mutex> lock(lock_);
  return context_;
}

}  // namespace quenby
