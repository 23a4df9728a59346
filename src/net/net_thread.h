#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace quenby {

/// What TNetThread::Stop does.
enum TStopKind { skTerminate, skSuspend };

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t DefaultThreadStackSize = 1024 * 1024;  // sanitizers need room
#else
/// Modest stacks, so that a thousand idle connections cost little memory.
constexpr std::size_t DefaultThreadStackSize = 256 * 1024;
#endif
/// How often the process-end wait for live threads reports that it is still waiting.
constexpr int LiveThreadWaitStep = 5000;

/// Base of an object a thread keeps in its Data.
class TThreadData {
 public:
  virtual ~TThreadData() = default;
};

/// A thread with a start/stop/terminate life cycle around a repeated unit of work
/// (RunOnce). It is created suspended: the OS thread starts with the first Start.
///
/// Start, Stop, Terminate, IsStopped and the Terminating* readers may be called from any
/// thread. The thread object is destroyed either by its owner (after the thread ended, or
/// before it ever started) or by itself, once ownership was handed to it with
/// FreeOnTerminate. Exceptions never leave the thread: the last one is recorded and passed
/// to NotifyException. Concrete subclasses call EndThread in their destructors so that no
/// hook runs on a half-destroyed object.
class TNetThread {
 public:
  TNetThread();
  virtual ~TNetThread();
  TNetThread(const TNetThread&) = delete;
  TNetThread& operator=(const TNetThread&) = delete;

  /// User object of the thread; freed by CleanupRun and the destructor. Thread's own use.
  std::unique_ptr<TThreadData> Data;
  TStopKind StopKind = skTerminate;
  /// Fired on the thread with the exception that ended its body.
  std::function<void(TNetThread&, const std::exception&)> OnThreadException;
  /// Fired on the thread when it finds itself stopped.
  std::function<void(TNetThread&)> OnThreadStopped;

  /// Terminated, stopped, suspended (not yet started or parked), or being destroyed.
  bool IsStopped() const;
  bool Terminated() const;
  /// Not yet started, or parked by a skSuspend stop.
  bool Suspended() const;
  /// The OS thread ran its body to the end.
  bool Finished() const;
  /// Whether the caller runs on this thread.
  bool IsCurrentThread() const;

  /// Starts (or resumes) the thread; a terminated thread stays stopped and ends at once.
  /// Raises EInOutError when the OS thread cannot be created.
  virtual void Start();
  /// skTerminate: terminates; skSuspend: parks the thread after its current unit.
  virtual void Stop();
  /// Marks the thread terminated (and stopped); it ends after its current unit.
  virtual void Terminate();
  /// Terminate, Start, then wait for the end. Raises EThreadTerminateAndWaitFor on a
  /// thread that frees itself.
  virtual void TerminateAndWaitFor();
  /// Waits for the OS thread to end (returns at once when it never started).
  void WaitFor();

  /// Hands a running thread ownership of itself: it frees itself when its body ends.
  static void FreeOnTerminate(std::unique_ptr<TNetThread> self);
  bool FreesOnTerminate() const;

  /// Class name and message of the exception that ended the body, if any.
  std::string TerminatingClass() const;
  std::string TerminatingMessage() const;

  /// TNetThread objects alive in the process.
  static int LiveThreadCount();

 protected:
  virtual void PrepareExecute() {}
  virtual void FinishExecute() {}
  virtual void PrepareRun() {}
  virtual void FinishRun() {}
  /// Frees Data.
  virtual void CleanupRun();
  virtual void NotifyException(const std::exception& e);
  virtual void NotifyStopped();
  /// One unit of work, repeated while the thread is not stopped.
  virtual void RunOnce() = 0;

  /// Waits up to `milliseconds`; false (at once) when the thread is or becomes stopped.
  bool SleepUnlessStopped(int milliseconds);
  /// Terminates, releases a suspended thread and waits for its end. For destructors.
  void EndThread();

  std::size_t StackSize = DefaultThreadStackSize;

 private:
  static void* Entry(void* thread);
  // The thread body: RunRounds, then FinishExecute (also when a round raised, never after
  // a release by the destructor); an exception that ends it is recorded.
  void Execute();
  // PrepareExecute, then rounds until terminated. False when the destructor released the
  // parked thread: no hook may run any more.
  bool RunRounds();
  // PrepareRun, RunOnce until stopped, FinishRun (only after a PrepareRun that succeeded),
  // then CleanupRun, also when a step before it raised.
  void RunRound();
  void RunUntilStopped();
  void RecordException(const std::exception* e);
  bool StoppedLocked() const { return destroying_ || terminated_ || stopped_ || suspended_; }
  // Parks the thread until Start, Terminate or the destructor; false when released.
  bool Park();
  // Ends a Park: released when released_ is set, else woken. Called with lock_ held.
  void WakeParkedLocked();

  mutable std::mutex lock_;  // guards the state below
  std::condition_variable wake_;
  bool stopped_ = true;
  bool terminated_ = false;
  bool suspended_ = true;
  bool finished_ = false;
  bool destroying_ = false;
  bool released_ = false;
  bool has_os_thread_ = false;
  // A parked thread sleeps on this word (a futex) rather than on wake_: woken, it goes on
  // without taking lock_ back from the thread that woke it. Changed under lock_.
  std::atomic<std::uint32_t> park_state_{0};
  bool free_on_terminate_ = false;
  pthread_t os_thread_{};
  std::unique_ptr<TNetThread> self_;
  std::string terminating_class_;
  std::string terminating_message_;
  std::mutex join_lock_;  // one joiner at a time
  bool joined_ = false;
};

}  // namespace quenby
