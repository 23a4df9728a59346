#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/socket_stack.h"

namespace quenby {

/// Progress modes of the work events.
enum TWorkMode { wmRead = 0, wmWrite = 1 };

/// Connection states announced through OnStatus; the server side uses the last two.
enum TStatus { hsResolving = 0, hsConnecting, hsConnected, hsDisconnecting, hsDisconnected };

/// Common base of the server, the connections and the I/O handlers: a named component with
/// status and progress events. Each instance holds the process-wide socket stack alive.
/// Events run on the thread that causes them and are raised only when assigned.
class TNetComponent {
 public:
  TNetComponent() = default;
  virtual ~TNetComponent() = default;
  TNetComponent(const TNetComponent&) = delete;
  TNetComponent& operator=(const TNetComponent&) = delete;

  std::string Name;
  std::function<void(TNetComponent& sender, TStatus status, const std::string& text)> OnStatus;
  std::function<void(TNetComponent& sender, TWorkMode mode, std::int64_t maximum)> OnWorkBegin;
  std::function<void(TNetComponent& sender, TWorkMode mode, std::int64_t total)> OnWork;
  std::function<void(TNetComponent& sender, TWorkMode mode)> OnWorkEnd;

  /// Opens a (possibly nested) unit of progress; only the outermost one fires OnWorkBegin.
  virtual void BeginWork(TWorkMode mode, std::int64_t maximum = 0);
  /// Adds to the running total inside a unit of progress and fires OnWork.
  virtual void DoWork(TWorkMode mode, std::int64_t count);
  /// Closes a unit of progress; the outermost one fires OnWorkEnd.
  virtual void EndWork(TWorkMode mode);

  /// The status text of the fixed table, `argument` filled into it where it has a place.
  static std::string StatusText(TStatus status, const std::string& argument = {});

 protected:
  /// Fires OnStatus with the table's text.
  void DoStatus(TStatus status, const std::string& argument = {});

 private:
  struct WorkState {
    int level = 0;
    std::int64_t maximum = 0;
    std::int64_t total = 0;
  };
  TSocketStackLease stack_lease_;
  WorkState work_[2];
};

}  // namespace quenby
