#include "net/listener_thread.h"

#include <cerrno>

#include "net/peer_thread.h"
#include "net/tcp_server.h"
#include "util/exception.h"

namespace quenby {
namespace {

// Failures that end when other connections close, not by retrying at once.
bool IsResourceExhaustion(const std::exception& e) {
  if (const auto* socket_error = dynamic_cast<const ESocketError*>(&e)) {
    const int code = socket_error->LastError();
    return code == SockErrTooManyFiles || code == SockErrNoBufferSpace;
  }
  if (const auto* io_error = dynamic_cast<const EInOutError*>(&e)) {
    const int code = io_error->ErrorCode();
    return code == EAGAIN || code == EMFILE || code == ENFILE || code == ENOMEM;
  }
  return false;
}

}  // namespace

TListenerThread::TListenerThread(TTCPServer* server, TSocketHandle* binding)
    : server_(server), binding_(binding) {}

TListenerThread::~TListenerThread() {
  EndThread();
}

void TListenerThread::FinishRun() {
  binding_->ShutSocket();
}

void TListenerThread::RunOnce() {
  if (server_ == nullptr) {
    Stop();
    return;
  }
  std::shared_ptr<TThreadMgr> manager = server_->AcquireThreadMgr();
  TPeerThread* peer = nullptr;
  bool listed = false;
  bool holds_connection = false;
  try {
    for (;;) {
      auto connection = std::make_unique<TTCPServerConnection>(server_);
      std::unique_ptr<TIOHandler> accepted =
          server_->IOHandler()->AcceptConnection(*binding_, this);
      if (!accepted) {
        Stop();
        return;
      }
      holds_connection = true;
      TNetThread* thread = manager->AcquireThread();
      peer = dynamic_cast<TPeerThread*>(thread);
      if (peer == nullptr) {
        manager->ReturnThread(thread);
        throw ETCPServerError("The thread class of the server does not make peer threads.");
      }
      connection->SetIOHandler(std::move(accepted));
      peer->SetConnection(std::move(connection));
      peer->SetListening(binding_);
      if (server_->MaxConnections > 0 && server_->PeerThreadCount() >= server_->MaxConnections) {
        TTCPServerConnection* refused = peer->Connection();
        refused->WriteReply(server_->MaxConnectionReply);
        refused->Disconnect();
        manager->ReturnThread(peer);  // never started: freed with its connection
        peer = nullptr;
        holds_connection = false;
        continue;
      }
      server_->AddPeerThread(peer);
      listed = true;
      peer->Start();
      exhausted_ = false;
      return;
    }
  } catch (const std::exception& e) {
    if (peer != nullptr) {
      if (listed)
        server_->LeavePeerThreads(peer);
      manager->ReturnThread(peer);  // never started: freed with its connection, which closes
    }
    if (holds_connection)
      server_->CountUnservedConnection();
    ReportFailure(e);
  }
}

void TListenerThread::ReportFailure(const std::exception& e) {
  const bool exhausted = IsResourceExhaustion(e);
  if (!exhausted || !exhausted_) {
    server_->ReportListenException(*this, e);
  }
  exhausted_ = exhausted;
  if (exhausted) {
    SleepUnlessStopped(AcceptBackoffTime);
  }
}

}  // namespace quenby
