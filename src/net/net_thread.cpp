#include "net/net_thread.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "net/net_exceptions.h"
#include "util/exception.h"
#include "util/scope_guard.h"

namespace quenby {

namespace {

// Values of park_state_.
constexpr std::uint32_t ParkAsleep = 0;
constexpr std::uint32_t ParkWoken = 1;
constexpr std::uint32_t ParkReleased = 2;

std::uint32_t* FutexWord(std::atomic<std::uint32_t>& word) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  return reinterpret_cast<std::uint32_t*>(&word);
}

// Sleeps while `word` holds `expected`; returns at once when it no longer does, and may
// return early (a signal, a spurious wake): callers look again.
void FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected) {
  syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWakeAll(std::uint32_t* word) {
  syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

// The process-wide count of live thread objects. At process end the transport waits for
// every thread that freed itself to finish, so none outlives the process's own data.
struct LiveThreads {
  std::mutex lock;
  std::condition_variable changed;
  int count = 0;

  ~LiveThreads() {
    std::unique_lock<std::mutex> guard(lock);
    while (count > 0) {
      changed.wait_for(guard, std::chrono::milliseconds(LiveThreadWaitStep));
    }
  }
};

LiveThreads& Live() {
  static LiveThreads live;
  return live;
}

void ChangeLiveCount(int delta) {
  LiveThreads& live = Live();
  // Notified under the lock: the process-end wait may destroy the condition as soon as it
  // sees the count reach 0.
  std::lock_guard<std::mutex> guard(live.lock);
  live.count += delta;
  live.changed.notify_all();
}

}  // namespace

TNetThread::TNetThread() {
  ChangeLiveCount(+1);
}

TNetThread::~TNetThread() {
  const bool own = IsCurrentThread();
  bool has_os_thread = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    free_on_terminate_ = false;
    terminated_ = true;
    stopped_ = true;
    destroying_ = true;
    released_ = true;
    has_os_thread = has_os_thread_;
    wake_.notify_all();
    WakeParkedLocked();
  }
  if (has_os_thread) {
    if (own) {
      pthread_detach(os_thread_);
    } else {
      WaitFor();
    }
  }
  Data.reset();
  ChangeLiveCount(-1);
}

bool TNetThread::IsStopped() const {
  std::lock_guard<std::mutex> guard(lock_);
  return StoppedLocked();
}

bool TNetThread::Terminated() const {
  std::lock_guard<std::mutex> guard(lock_);
  return terminated_;
}

bool TNetThread::Suspended() const {
  std::lock_guard<std::mutex> guard(lock_);
  return suspended_;
}

bool TNetThread::Finished() const {
  std::lock_guard<std::mutex> guard(lock_);
  return finished_;
}

bool TNetThread::IsCurrentThread() const {
  std::lock_guard<std::mutex> guard(lock_);
  return has_os_thread_ && pthread_equal(os_thread_, pthread_self()) != 0;
}

void TNetThread::Start() {
  std::unique_lock<std::mutex> guard(lock_);
  if (!StoppedLocked() || destroying_) {
    return;
  }
  stopped_ = terminated_;
  if (has_os_thread_) {
    suspended_ = false;
    park_state_.store(released_ ? ParkReleased : ParkWoken, std::memory_order_release);
    // Woken after the unlock, or the thread would wake only to wait for the lock. The thread
    // may be gone by then: the wake reads and writes no memory, and a stray wake of whatever
    // waits on that address later is one every futex waiter allows for.
    if (pthread_equal(os_thread_, pthread_self()) != 0) {
      return;  // a thread starting its own next round is awake
    }
    std::uint32_t* word = FutexWord(park_state_);
    guard.unlock();
    FutexWakeAll(word);
    return;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, StackSize);
  const int result = pthread_create(&os_thread_, &attributes, &TNetThread::Entry, this);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    stopped_ = true;
    errno = result;
    RaiseLastOSError("Cannot create thread");
  }
  has_os_thread_ = true;
  suspended_ = false;
}

void TNetThread::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (StoppedLocked()) {
      return;
    }
    if (StopKind == skTerminate) {
      terminated_ = true;
    }
    stopped_ = true;
    wake_.notify_all();
  }
}

// Every notification is made under the lock: a thread that frees itself may be destroyed
// as soon as the lock is released.
void TNetThread::Terminate() {
  std::lock_guard<std::mutex> guard(lock_);
  stopped_ = true;
  terminated_ = true;
  wake_.notify_all();
}

void TNetThread::TerminateAndWaitFor() {
  if (FreesOnTerminate()) {
    throw EThreadTerminateAndWaitFor(RSThreadTerminateAndWaitFor);
  }
  Terminate();
  Start();
  WaitFor();
}

void TNetThread::WaitFor() {
  std::lock_guard<std::mutex> join_guard(join_lock_);
  pthread_t os_thread{};
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!has_os_thread_ || joined_ || pthread_equal(os_thread_, pthread_self()) != 0) {
      return;
    }
    os_thread = os_thread_;
    // A parked thread must run to its end to be joined.
    suspended_ = false;
    WakeParkedLocked();
  }
  pthread_join(os_thread, nullptr);
  joined_ = true;
}

void TNetThread::FreeOnTerminate(std::unique_ptr<TNetThread> self) {
  TNetThread* thread = self.get();
  std::lock_guard<std::mutex> guard(thread->lock_);
  thread->free_on_terminate_ = true;
  thread->self_ = std::move(self);
}

bool TNetThread::FreesOnTerminate() const {
  std::lock_guard<std::mutex> guard(lock_);
  return free_on_terminate_;
}

std::string TNetThread::TerminatingClass() const {
  std::lock_guard<std::mutex> guard(lock_);
  return terminating_class_;
}

std::string TNetThread::TerminatingMessage() const {
  std::lock_guard<std::mutex> guard(lock_);
  return terminating_message_;
}

int TNetThread::LiveThreadCount() {
  LiveThreads& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  return live.count;
}

void TNetThread::CleanupRun() {
  Data.reset();
}

void TNetThread::NotifyException(const std::exception& e) {
  if (OnThreadException) {
    OnThreadException(*this, e);
  }
}

void TNetThread::NotifyStopped() {
  if (OnThreadStopped) {
    OnThreadStopped(*this);
  }
}

bool TNetThread::SleepUnlessStopped(int milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  return !wake_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                         [this] { return StoppedLocked(); });
}

void TNetThread::EndThread() {
  Terminate();
  WaitFor();
}

bool TNetThread::Park() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (released_) {
      return false;
    }
    // A Start or Terminate that came after the caller saw this thread stopped wins: parking
    // now would miss its wake-up.
    if (terminated_ || !stopped_) {
      return true;
    }
    suspended_ = true;
    park_state_.store(ParkAsleep, std::memory_order_relaxed);
  }
  std::uint32_t state = ParkAsleep;
  while ((state = park_state_.load(std::memory_order_acquire)) == ParkAsleep) {
    FutexWait(park_state_, ParkAsleep);
  }
  return state != ParkReleased;
}

void TNetThread::WakeParkedLocked() {
  park_state_.store(released_ ? ParkReleased : ParkWoken, std::memory_order_release);
  FutexWakeAll(FutexWord(park_state_));
}

void* TNetThread::Entry(void* thread) {
  auto* self = static_cast<TNetThread*>(thread);
  self->Execute();
  std::unique_ptr<TNetThread> owned;
  {
    std::lock_guard<std::mutex> guard(self->lock_);
    self->finished_ = true;
    if (self->free_on_terminate_) {
      owned = std::move(self->self_);
    }
  }
  owned.reset();  // a thread that owns itself is freed here, on its own thread
  return nullptr;
}

void TNetThread::RecordException(const std::exception* e) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    terminating_class_ = e != nullptr ? ExceptionClassName(*e) : "unknown exception";
    terminating_message_ = e != nullptr ? e->what() : "";
  }
  if (e != nullptr) {
    NotifyException(*e);
  }
  Terminate();
}

void TNetThread::Execute() {
  bool released = false;
  try {
    Finally([&] { released = !RunRounds(); },
            [&] {
              if (!released)
                FinishExecute();
            });
  } catch (const std::exception& e) {
    RecordException(&e);
  } catch (...) {
    RecordException(nullptr);
  }
}

bool TNetThread::RunRounds() {
  PrepareExecute();
  while (!Terminated()) {
    if (IsStopped()) {
      NotifyStopped();
      if (IsStopped()) {
        if (Terminated())
          return true;
        if (!Park())
          return false;
        if (Terminated())
          return true;
      }
    }
    RunRound();
  }
  return true;
}

void TNetThread::RunRound() {
  Finally(
      [this] {
        PrepareRun();
        Finally([this] { RunUntilStopped(); }, [this] { FinishRun(); });
      },
      [this] { CleanupRun(); });
}

void TNetThread::RunUntilStopped() {
  while (!IsStopped()) {
    TScopeGuard terminate([this] { Terminate(); });  // a unit that raises ends the thread
    RunOnce();
    terminate.Dismiss();
  }
}

}  // namespace quenby
