#include "net/tcp_server.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace quenby {
namespace {

// How often a thread whose connection ended gives the processor away, looking for a waiting
// connection after each time, before it leaves to be parked.
constexpr int WaitingConnectionYields = 3;

}  // namespace

TTCPServer::TTCPServer() {
  PeerThreadClass = [] { return std::make_unique<TPeerThread>(); };
}

TTCPServer::~TTCPServer() {
  try {
    TTCPServer::SetActive(false);
  } catch (...) {
    // A timeout here is not the end: the late threads are waited for below.
  }
  StopListenerThreads();
  ForEachPeerThread([](TPeerThread& thread) { thread.Connection()->DropSocket(); });
  std::unique_lock<std::mutex> guard(peer_lock_);
  peer_left_.wait(guard, [this] { return peer_threads_.empty(); });
}

void TTCPServer::SetActive(bool value) {
  if (value && StopUnfinished()) {
    // A start after a stop that timed out finishes that stop first, so that it listens
    // again or fails with the stop's reason, never reports a start without a listener.
    Deactivate();
  }
  if (value == active_) {
    return;
  }
  if (value) {
    Activate();
  } else {
    Deactivate();
  }
}

std::shared_ptr<TThreadMgr> TTCPServer::ThreadMgr() const {
  std::lock_guard<std::mutex> guard(manager_lock_);
  return thread_mgr_;
}

void TTCPServer::SetThreadMgr(std::shared_ptr<TThreadMgr> manager) {
  std::lock_guard<std::mutex> guard(manager_lock_);
  thread_mgr_ = std::move(manager);
  implicit_thread_mgr_ = false;
}

std::shared_ptr<TThreadMgr> TTCPServer::AcquireThreadMgr() {
  std::lock_guard<std::mutex> guard(manager_lock_);
  if (!thread_mgr_) {
    thread_mgr_ = std::make_shared<TThreadMgrDefault>();
    implicit_thread_mgr_ = true;
  }
  return thread_mgr_;
}

void TTCPServer::SetIOHandler(TServerIOHandler* handler) {
  if (handler != implicit_io_handler_.get()) {
    implicit_io_handler_.reset();
  }
  io_handler_ = handler;
}

void TTCPServer::Activate() {
  if (!started_up_) {
    Startup();
    started_up_ = true;
  }
  if (bindings_.Count() == 0) {
    bindings_.Add();
  }
  AcquireThreadMgr()->ThreadClass = PeerThreadClass;
  if (io_handler_ == nullptr) {
    implicit_io_handler_ = std::make_unique<TServerIOHandlerSocket>();
    io_handler_ = implicit_io_handler_.get();
  }
  ReplyTexts.UpdateText(ReplyUnknownCommand);
  ReplyTexts.UpdateText(MaxConnectionReply);
  io_handler_->InitHandler();
  OpenBindings();
  try {
    StartListeners();
  } catch (...) {
    for (int i = 0; i < bindings_.Count(); ++i) {
      bindings_[i].ShutSocket();
    }
    AbortActivation();
    throw;
  }
  active_ = true;
}

// Linux keeps a port in TIME_WAIT after the server closed connections on it, and without
// the reuse option a stopped server could not listen on its port again for a minute.
// There the option still refuses a second listener on the same address and port, so
// rsOSDependent sets it as rsTrue does; rsFalse leaves it off.
void TTCPServer::OpenBindings() {
  int i = 0;
  try {
    for (; i < bindings_.Count(); ++i) {
      TSocketHandle& binding = bindings_[i];
      binding.OpenSocket(SOCK_STREAM, 0);
      if (ReuseSocket != rsFalse) {
        binding.SetOption(SOL_SOCKET, SO_REUSEADDR, 1);
      }
      binding.BindLocal();
    }
  } catch (...) {
    for (int j = i - 1; j >= 0; --j) {
      bindings_[j].ShutSocket();
    }
    AbortActivation();
    throw;
  }
}

// Lets overrides of the switch clean up after a failed activation; their own failure
// must not hide the one that stopped the activation.
void TTCPServer::AbortActivation() {
  active_ = true;
  try {
    SetActive(false);
  } catch (...) {
  }
}

void TTCPServer::StartListeners() {
  std::lock_guard<std::mutex> guard(listener_lock_);
  SetAccepting(true);
  for (int i = 0; i < bindings_.Count(); ++i) {
    TSocketHandle& binding = bindings_[i];
    binding.StartListening(ListenQueue);
    if (DeferAccept > 0)
      binding.DeferAccept(DeferAccept);
    // Listeners and peer threads may both accept on it: whoever finds a connection gone to
    // the other must not wait for the next one.
    binding.SetNonBlocking();
    listener_threads_.push_back(std::make_unique<TListenerThread>(this, &binding));
    listener_threads_.back()->Start();
  }
}

void TTCPServer::SetAccepting(bool accepting) {
  std::lock_guard<std::mutex> guard(peer_lock_);
  accepting_ = accepting;
}

void TTCPServer::Deactivate() {
  StopListenerThreads();
  try {
    StopPeerThreads();
  } catch (...) {
    EndThreadMgr();
    throw;
  }
  EndThreadMgr();
  active_ = false;
}

// A manager that keeps idle threads ends them with the server's stop.
void TTCPServer::EndThreadMgr() {
  if (std::shared_ptr<TThreadMgr> manager = ThreadMgr()) {
    manager->TerminateThreads();
  }
  ReleaseImplicitThreadMgr();
}

void TTCPServer::StopListenerThreads() {
  SetAccepting(false);  // first: a peer thread's accept from now on is refused
  std::lock_guard<std::mutex> guard(listener_lock_);
  for (auto& listener : listener_threads_) {
    listener->Terminate();
    listener->Binding()->ShutSocket();
    listener->WaitFor();
  }
  listener_threads_.clear();
}

void TTCPServer::StopPeerThreads() {
  std::unique_lock<std::mutex> guard(peer_lock_);
  for (TPeerThread* thread : peer_threads_) {
    thread->Connection()->DropSocket();
  }
  if (TerminateWaitTime <= 0) {
    return;
  }
  // Waits in steps of at most TerminateWaitStep, but returns as soon as the last
  // thread has left.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(TerminateWaitTime);
  while (!peer_threads_.empty()) {
    const auto step = std::min(
        deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(TerminateWaitStep));
    peer_left_.wait_until(guard, step);
    if (std::chrono::steady_clock::now() >= deadline && !peer_threads_.empty()) {
      throw ETerminateThreadTimeout(RSTerminateThreadTimeout);
    }
  }
}

void TTCPServer::ReleaseImplicitThreadMgr() {
  std::lock_guard<std::mutex> peers(peer_lock_);
  std::lock_guard<std::mutex> guard(manager_lock_);
  if (implicit_thread_mgr_ && peer_threads_.empty()) {
    thread_mgr_.reset();
    implicit_thread_mgr_ = false;
  }
}

void TTCPServer::ConnectHook(TPeerThread& thread) {
  TRFCReply greeting = Greeting;  // a copy: peer threads fill texts concurrently
  ReplyTexts.UpdateText(greeting);
  if (greeting.HasContent()) {
    thread.Connection()->WriteReply(greeting);
  }
  if (OnConnect) {
    OnConnect(thread);
  }
}

void TTCPServer::DisconnectHook(TPeerThread& thread) {
  if (OnDisconnect) {
    OnDisconnect(thread);
  }
}

bool TTCPServer::ExecuteHook(TPeerThread& thread) {
  if (!OnExecute) {
    return false;
  }
  OnExecute(thread);
  return true;
}

void TTCPServer::ReportPeerException(TPeerThread& thread, const std::exception& e) {
  if (OnException) {
    OnException(thread, e);
  }
}

void TTCPServer::ReportListenException(TListenerThread& thread, const std::exception& e) {
  if (OnListenException) {
    OnListenException(thread, e);
  }
}

int TTCPServer::PeerThreadCount() const {
  std::lock_guard<std::mutex> guard(peer_lock_);
  return static_cast<int>(peer_threads_.size());
}

void TTCPServer::ForEachPeerThread(const std::function<void(TPeerThread&)>& visit) const {
  std::lock_guard<std::mutex> guard(peer_lock_);
  for (TPeerThread* thread : peer_threads_) {
    visit(*thread);
  }
}

void TTCPServer::AddPeerThread(TPeerThread* thread) {
  std::lock_guard<std::mutex> guard(peer_lock_);
  peer_threads_.push_back(thread);
}

std::shared_ptr<TThreadMgr> TTCPServer::LeavePeerThreads(TPeerThread* thread) {
  std::lock_guard<std::mutex> guard(peer_lock_);
  peer_threads_.erase(std::remove(peer_threads_.begin(), peer_threads_.end(), thread),
                      peer_threads_.end());
  // Notified under the lock: once the list is seen empty the server may be destroyed, and
  // this thread must not touch it after releasing the lock.
  peer_left_.notify_all();
  return AcquireThreadMgr();
}

bool TTCPServer::ServeWaitingConnection(TPeerThread& thread) {
  TSocketHandle* listening = thread.Listening();
  if (listening == nullptr || io_handler_ == nullptr || thread.StopKind != skSuspend ||
      MaxConnections > 0 || thread.Terminated()) {
    return false;
  }
  auto next = std::make_unique<TTCPServerConnection>(this);
  try {
    std::unique_ptr<TIOHandler> accepted = io_handler_->AcceptWaitingConnection(*listening);
    // A client on this machine often needs the processor to open its next connection: given
    // it a few times, the connection is often there before this thread would have parked,
    // which saves the listener's wake and this thread's sleep and wake.
    for (int i = 0; i < WaitingConnectionYields && !accepted; ++i) {
      std::this_thread::yield();
      accepted = io_handler_->AcceptWaitingConnection(*listening);
    }
    if (!accepted) {
      return false;
    }
    next->SetIOHandler(std::move(accepted));
  } catch (const std::exception&) {
    return false;  // the listener meets the same failure and reports it
  }
  std::unique_ptr<TTCPServerConnection> ended;
  {
    std::lock_guard<std::mutex> guard(peer_lock_);
    if (accepting_) {
      ended = thread.ExchangeConnection(std::move(next));
    }
  }
  if (!ended) {
    CountUnservedConnection();  // the stop began after the accept: it closes unserved
    return false;
  }
  ended.reset();
  thread.Start();
  return true;
}

int TTCPServer::ListenerThreadCount() const {
  std::lock_guard<std::mutex> guard(listener_lock_);
  return static_cast<int>(listener_threads_.size());
}

}  // namespace quenby
