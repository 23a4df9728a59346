#include "net/thread_mgr_pool.h"

#include <utility>

namespace quenby {

TThreadMgrPool::TThreadMgrPool(int idle_limit) : idle_limit_(idle_limit) {}

TThreadMgrPool::~TThreadMgrPool() {
  TerminateThreads();
}

std::unique_ptr<TNetThread> TThreadMgrPool::MakeThread() {
  std::unique_ptr<TNetThread> thread = TThreadMgr::MakeThread();
  thread->StopKind = skSuspend;
  return thread;
}

TNetThread* TThreadMgrPool::AcquireThread() {
  std::unique_ptr<TNetThread> thread;
  {
    std::lock_guard<std::mutex> guard(managed_lock_);
    closing_ = false;
    if (!idle_threads_.empty()) {
      thread = std::move(idle_threads_.back());
      idle_threads_.pop_back();
    }
  }
  if (!thread) {
    thread = MakeThread();
  }
  TNetThread* result = thread.get();
  std::lock_guard<std::mutex> guard(managed_lock_);
  managed_threads_.push_back(std::move(thread));
  return result;
}

bool TThreadMgrPool::KeepsIdle(const TNetThread& thread) const {
  return !closing_ && static_cast<int>(idle_threads_.size()) < idle_limit_ &&
         thread.IsCurrentThread() && !thread.Terminated();
}

void TThreadMgrPool::ReturnThread(TNetThread* thread) {
  std::unique_ptr<TNetThread> owned;
  {
    std::lock_guard<std::mutex> guard(managed_lock_);
    owned = TakeManaged(thread);
    if (!owned) {
      return;
    }
    if (KeepsIdle(*thread)) {
      // The thread parks itself once its round has ended; a Start before that finds it
      // still stopped and makes it run the next round at once.
      idle_threads_.push_back(std::move(owned));
      return;
    }
  }
  FreeReturned(std::move(owned));
}

void TThreadMgrPool::TerminateThreads() {
  std::vector<std::unique_ptr<TNetThread>> idle;
  {
    std::lock_guard<std::mutex> guard(managed_lock_);
    closing_ = true;
    idle.swap(idle_threads_);
  }
  for (auto& thread : idle) {
    thread->Terminate();
    FreeReturned(std::move(thread));
  }
}

int TThreadMgrPool::IdleCount() const {
  std::lock_guard<std::mutex> guard(managed_lock_);
  return static_cast<int>(idle_threads_.size());
}

}  // namespace quenby
