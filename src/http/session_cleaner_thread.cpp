#include "http/session_cleaner_thread.h"

namespace quenby {

THTTPSessionCleanerThread::THTTPSessionCleanerThread(THTTPCustomSessionList& sessions)
    : sessions_(sessions) {}

THTTPSessionCleanerThread::~THTTPSessionCleanerThread() {
  EndThread();
}

void THTTPSessionCleanerThread::RunOnce() {
  SleepUnlessStopped(SessionCleanerInterval);
  sessions_.PurgeSessions(Terminated());
}

void THTTPSessionCleanerThread::FinishRun() {
  sessions_.PurgeSessions(true);
  TNetThread::FinishRun();
}

}  // namespace quenby
