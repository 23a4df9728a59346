#include "net/listener_thread.h"

#include "net/peer_thread.h"
#include "net/tcp_server.h"

namespace quenby {

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
  try {
    for (;;) {
      auto connection = std::make_unique<TTCPServerConnection>(server_);
      std::unique_ptr<TIOHandler> accepted =
          server_->IOHandler()->AcceptConnection(*binding_, this);
      if (!accepted) {
        Stop();
        return;
      }
      TNetThread* thread = manager->AcquireThread();
      peer = dynamic_cast<TPeerThread*>(thread);
      if (peer == nullptr) {
        manager->ReturnThread(thread);
        throw ETCPServerError("The thread class of the server does not make peer threads.");
      }
      connection->SetIOHandler(std::move(accepted));
      peer->SetConnection(std::move(connection));
      if (server_->MaxConnections > 0 && server_->PeerThreadCount() >= server_->MaxConnections) {
        TTCPServerConnection* refused = peer->Connection();
        refused->WriteReply(server_->MaxConnectionReply);
        refused->Disconnect();
        manager->ReturnThread(peer);  // never started: freed with its connection
        peer = nullptr;
        continue;
      }
      server_->AddPeerThread(peer);
      listed = true;
      peer->Start();
      return;
    }
  } catch (const std::exception& e) {
    if (peer != nullptr) {
      if (listed)
        server_->LeavePeerThreads(peer);
      manager->ReturnThread(peer);
    }
    server_->ReportListenException(*this, e);
  }
}

}  // namespace quenby
