#pragma once

#include "http/session_list.h"
#include "net/net_thread.h"

namespace quenby {

/// Pause between two purges of stale sessions, in milliseconds.
constexpr int SessionCleanerInterval = 1000;

/// Ends stale sessions of one list about once a second, and every session when it is asked
/// to terminate. The list must outlive the thread; the owner terminates and waits for it.
class THTTPSessionCleanerThread : public TNetThread {
 public:
  explicit THTTPSessionCleanerThread(THTTPCustomSessionList& sessions);
  ~THTTPSessionCleanerThread() override;

 protected:
  /// Waits one interval (cut short by a stop), then purges: all sessions when terminating.
  void RunOnce() override;
  /// Purges every session once more.
  void FinishRun() override;

 private:
  THTTPCustomSessionList& sessions_;
};

}  // namespace quenby
