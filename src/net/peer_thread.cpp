#include "net/peer_thread.h"

#include "net/tcp_server.h"

namespace quenby {

TPeerThread::~TPeerThread() {
  EndThread();
}

void TPeerThread::SetConnection(std::unique_ptr<TTCPServerConnection> connection) {
  connection_ = std::move(connection);
}

std::unique_ptr<TTCPServerConnection> TPeerThread::ExchangeConnection(
    std::unique_ptr<TTCPServerConnection> next) {
  std::swap(connection_, next);
  return next;
}

void TPeerThread::PrepareRun() {
  TTCPServerConnection* connection = connection_.get();
  if (connection == nullptr || connection->IOHandler() == nullptr) {
    Terminate();
    throw ETCPServerError("");
  }
  try {
    connection->IOHandler()->AfterAcceptHook();
  } catch (const std::exception& e) {
    Terminate();
    // A failed handshake ends this connection only, reported like any other peer failure.
    if (TTCPServer* server = connection->Server()) {
      server->ReportPeerException(*this, e);
    }
    throw;
  } catch (...) {
    Terminate();
    throw;
  }
  TTCPServer* server = connection->Server();
  if (server != nullptr) {
    if (TServerIntercept* intercept = server->Intercept()) {
      connection->SetIntercept(intercept->Accept(*connection));
    }
    server->ConnectHook(*this);
  }
  if (!connection->IsConnected()) {
    Stop();
  }
}

void TPeerThread::RunOnce() {
  TTCPServerConnection* connection = connection_.get();
  TTCPServer* server = connection->Server();
  try {
    try {
      if (server == nullptr || !server->ExecuteHook(*this)) {
        throw ENoExecuteSpecified(RSNoExecuteSpecified);
      }
    } catch (const ESocketError& e) {
      server->ReportPeerException(*this, e);
      if (e.LastError() == SockErrConnAborted || e.LastError() == SockErrConnReset) {
        connection->Disconnect();
      }
    } catch (const EClosedSocket& e) {
      server->ReportPeerException(*this, e);
    } catch (const EConnClosedGracefully& e) {
      server->ReportPeerException(*this, e);
    }
    if (!connection->IsConnected()) {
      Stop();
    }
  } catch (const std::exception& e) {
    if (server != nullptr) {
      server->ReportPeerException(*this, e);
    }
    throw;
  }
}

void TPeerThread::FinishRun() {
  TTCPServer* server = connection_ ? connection_->Server() : nullptr;
  if (server == nullptr) {
    return;
  }
  server->DisconnectHook(*this);
  if (server->Intercept() != nullptr) {
    connection_->SetIntercept(nullptr);
  }
}

void TPeerThread::CleanupRun() {
  TNetThread::CleanupRun();
  if (connection_ && connection_->Server() != nullptr) {
    // Still listed, so the server is there: a busy one gives this thread its next
    // connection at once, and the next round starts it as a new thread would.
    if (connection_->Server()->ServeWaitingConnection(*this)) {
      return;
    }
    // After leaving PeerThreads the server may be gone: only the manager, kept alive by
    // the shared pointer, and this thread's own objects are touched from here on. A pool
    // may hand this thread a new connection as soon as it is returned, so the old one is
    // taken out of the member first and freed afterwards.
    std::shared_ptr<TThreadMgr> manager = connection_->Server()->LeavePeerThreads(this);
    std::unique_ptr<TTCPServerConnection> connection = std::move(connection_);
    manager->ReturnThread(this);
    return;
  }
  connection_.reset();
}

}  // namespace quenby
