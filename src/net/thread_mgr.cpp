#include "net/thread_mgr.h"

#include "net/net_exceptions.h"

namespace quenby {

TThreadMgr::~TThreadMgr() {
  std::vector<std::unique_ptr<TNetThread>> left;
  {
    std::lock_guard<std::mutex> guard(managed_lock_);
    left = std::move(managed_threads_);
  }
  for (auto& thread : left) {
    if (!thread->Suspended()) {
      thread->Terminate();
      thread->WaitFor();
    }
  }
}

std::unique_ptr<TNetThread> TThreadMgr::MakeThread() {
  if (!ThreadClass) {
    throw EThreadClassNotSpecified(RSThreadClassNotSpecified);
  }
  return ThreadClass();
}

int TThreadMgr::ManagedCount() const {
  std::lock_guard<std::mutex> guard(managed_lock_);
  return static_cast<int>(managed_threads_.size());
}

bool TThreadMgr::IsManaged(const TNetThread* thread) const {
  std::lock_guard<std::mutex> guard(managed_lock_);
  for (const auto& item : managed_threads_) {
    if (item.get() == thread)
      return true;
  }
  return false;
}

std::unique_ptr<TNetThread> TThreadMgr::TakeManaged(TNetThread* thread) {
  for (auto it = managed_threads_.begin(); it != managed_threads_.end(); ++it) {
    if (it->get() == thread) {
      std::unique_ptr<TNetThread> owned = std::move(*it);
      managed_threads_.erase(it);
      return owned;
    }
  }
  return nullptr;
}

void TThreadMgr::FreeReturned(std::unique_ptr<TNetThread> thread) {
  TNetThread* raw = thread.get();
  if (raw->IsCurrentThread()) {
    TNetThread::FreeOnTerminate(std::move(thread));
    raw->Terminate();
    return;
  }
  if (!raw->Suspended()) {
    raw->TerminateAndWaitFor();
  }
  thread.reset();
}

TNetThread* TThreadMgrDefault::AcquireThread() {
  std::unique_ptr<TNetThread> thread = MakeThread();
  TNetThread* result = thread.get();
  std::lock_guard<std::mutex> guard(managed_lock_);
  managed_threads_.push_back(std::move(thread));
  return result;
}

void TThreadMgrDefault::ReturnThread(TNetThread* thread) {
  std::unique_ptr<TNetThread> owned;
  {
    std::lock_guard<std::mutex> guard(managed_lock_);
    owned = TakeManaged(thread);
  }
  if (owned) {
    FreeReturned(std::move(owned));
  }
}

}  // namespace quenby
